#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QStringList>
#include <vector>

// The data of a report-mode list view: rows of CP949 texts, one per column,
// shown converted. Logic and tests work on the texts, not on pixels.
class ReportListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column {
    QByteArray header;  // CP949
    int width;          // pixels
  };

  explicit ReportListModel(QObject* parent = nullptr);

  void InsertColumn(const QByteArray& header, int width);
  const std::vector<Column>& Columns() const { return m_columns; }

  int GetItemCount() const { return static_cast<int>(m_rows.size()); }
  // Inserts an empty row at index (clamped to the end) and sets column 0; returns its index.
  int InsertItem(int index, const QByteArray& text);
  // Empty for a cell that does not exist.
  const QByteArray& GetItemText(int row, int column) const;
  void SetItemText(int row, int column, const QByteArray& text);
  // The same text in one column of many rows, announced as one change over
  // the span they cover, so that a view updates once and not once per row.
  void SetColumnText(const std::vector<int>& rows, int column, const QByteArray& text);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  bool HasCell(int row, int column) const;

  std::vector<Column> m_columns;
  QList<QList<QByteArray>> m_rows;
};

#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <array>

class ClientRegistry;

// The clients list as the window shows it: one row per registration text,
// columns "내선", "IP", "ID" (the connection's descriptor) and "전화". A view
// of the registry's rows; only the registry changes them.
class ClientListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column {
    QByteArray header;  // CP949
    int width;          // pixels
  };

  explicit ClientListModel(const ClientRegistry& registry, QObject* parent = nullptr);

  static const std::array<Column, 4>& Columns();
  int GetItemCount() const;
  // The text a cell shows (CP949); empty for a cell that does not exist.
  QByteArray GetItemText(int row, int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  friend class ClientRegistry;

  void CellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn);

  const ClientRegistry& m_registry;
};

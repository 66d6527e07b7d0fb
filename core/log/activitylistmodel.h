#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <vector>

// The activity list: CP949 lines, shown converted; a sorted list box that
// also takes insertions at the top. A line that takes it past 1000 lines cuts
// it back to its top 501.
class ActivityListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  explicit ActivityListModel(QObject* parent = nullptr);

  void InsertActivityLine(const QByteArray& line);  // at the top
  void AppendActivityLine(const QByteArray& line);  // where the sorting puts it
  // count copies of line where the sorting puts it, as one change.
  void AppendActivityLines(const QByteArray& line, int count);
  void TrimActivityList();  // over 1000 lines: back to 501

  int Count() const { return static_cast<int>(m_order.size()); }
  const QByteArray& Line(int index) const { return m_slots[size_t(m_order.at(size_t(index)))]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void InsertAt(int row, const QByteArray& line, int count = 1);
  // The slot the line is kept in: a free one, or a new one.
  int StoreLine(const QByteArray& line);

  int SortedInsertRow(const QByteArray& line) const;

  // Lines stay in the slot they were stored in; the list's order is a
  // vector of slot numbers, so that an insertion among up to 1000 lines,
  // dozens of times per call, moves small integers rather than the lines.
  std::vector<QByteArray> m_slots;
  std::vector<int> m_freeSlots;
  std::vector<int> m_order;
};

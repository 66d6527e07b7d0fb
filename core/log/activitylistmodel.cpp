#include "core/log/activitylistmodel.h"

#include "core/text/cp949.h"

namespace {

constexpr int kTrimAbove = 1000;
constexpr int kTrimKeep = 501;

}  // namespace

ActivityListModel::ActivityListModel(QObject* parent) : QAbstractListModel(parent) {}

void ActivityListModel::InsertActivityLine(const QByteArray& line) { InsertAt(0, line); }

void ActivityListModel::AppendActivityLine(const QByteArray& line) {
  InsertAt(SortedInsertRow(line), line);
}

void ActivityListModel::AppendActivityLines(const QByteArray& line, int count) {
  if (count > 0) InsertAt(SortedInsertRow(line), line, count);
}

// The halving search of a sorted list box: the first row whose line sorts
// after the new one. Top insertions leave the list unsorted, so the search
// is spelled out to stay defined (and deterministic) for any order.
int ActivityListModel::SortedInsertRow(const QByteArray& line) const {
  int low = 0;
  int high = Count();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (line < Line(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

void ActivityListModel::TrimActivityList() {
  if (Count() <= kTrimAbove) return;
  beginRemoveRows(QModelIndex(), kTrimKeep, Count() - 1);
  for (size_t row = kTrimKeep; row < m_order.size(); ++row) {
    m_slots[size_t(m_order[row])].clear();
    m_freeSlots.push_back(m_order[row]);
  }
  m_order.resize(kTrimKeep);
  endRemoveRows();
}

int ActivityListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

QVariant ActivityListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Count()) {
    return QVariant();
  }
  // A list box shows one line per entry: control bytes (the LDK505 lines'
  // BEL, ACK and line feed) do not show.
  QString text = FromCp949(Line(index.row()));
  text.removeIf([](QChar c) { return c.unicode() < 0x20; });
  return text;
}

void ActivityListModel::InsertAt(int row, const QByteArray& line, int count) {
  beginInsertRows(QModelIndex(), row, row + count - 1);
  const auto inserted = m_order.insert(m_order.begin() + row, size_t(count), 0);
  for (int i = 0; i < count; ++i) inserted[i] = StoreLine(line);
  endInsertRows();
  // Whatever adds the line: a centre whose calls are never answered would
  // otherwise grow the list, and the sorted insertion with it, without end.
  TrimActivityList();
}

int ActivityListModel::StoreLine(const QByteArray& line) {
  if (m_freeSlots.empty()) {
    m_slots.push_back(line);
    return int(m_slots.size()) - 1;
  }
  const int slot = m_freeSlots.back();
  m_freeSlots.pop_back();
  m_slots[size_t(slot)] = line;
  return slot;
}

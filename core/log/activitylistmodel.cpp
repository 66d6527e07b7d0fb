#include "core/log/activitylistmodel.h"

#include "core/text/cp949.h"

namespace {

constexpr int kTrimAbove = 1000;
constexpr int kTrimKeep = 501;

// The halving search of a sorted list box: the first row whose line sorts
// after the new one. Top insertions leave the list unsorted, so the search
// is spelled out to stay defined (and deterministic) for any order.
int SortedInsertRow(const QList<QByteArray>& lines, const QByteArray& line) {
  qsizetype low = 0;
  qsizetype high = lines.size();
  while (low < high) {
    const qsizetype middle = low + (high - low) / 2;
    if (line < lines.at(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return static_cast<int>(low);
}

}  // namespace

ActivityListModel::ActivityListModel(QObject* parent) : QAbstractListModel(parent) {}

void ActivityListModel::InsertActivityLine(const QByteArray& line) { InsertAt(0, line); }

void ActivityListModel::AppendActivityLine(const QByteArray& line) {
  InsertAt(SortedInsertRow(m_lines, line), line);
}

void ActivityListModel::TrimActivityList() {
  if (Count() <= kTrimAbove) return;
  beginRemoveRows(QModelIndex(), kTrimKeep, Count() - 1);
  m_lines.resize(kTrimKeep);
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
  QString text = FromCp949(m_lines.at(index.row()));
  text.removeIf([](QChar c) { return c.unicode() < 0x20; });
  return text;
}

void ActivityListModel::InsertAt(int row, const QByteArray& line) {
  beginInsertRows(QModelIndex(), row, row);
  m_lines.insert(row, line);
  endInsertRows();
  if (m_mirror) m_mirror(line);
  // Whatever adds the line: a centre whose calls are never answered would
  // otherwise grow the list, and the sorted insertion with it, without end.
  TrimActivityList();
}

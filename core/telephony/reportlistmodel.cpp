#include "core/telephony/reportlistmodel.h"

#include <algorithm>

#include "core/text/cp949.h"

ReportListModel::ReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ReportListModel::InsertColumn(const QByteArray& header, int width) {
  const int column = static_cast<int>(m_columns.size());
  beginInsertColumns(QModelIndex(), column, column);
  m_columns.push_back({header, width});
  for (auto& row : m_rows) row.append(QByteArray());
  endInsertColumns();
}

int ReportListModel::InsertItem(int index, const QByteArray& text) {
  const int row = std::clamp(index, 0, GetItemCount());
  beginInsertRows(QModelIndex(), row, row);
  QList<QByteArray> cells(qsizetype(std::max<size_t>(m_columns.size(), 1)));
  cells[0] = text;
  m_rows.insert(row, cells);
  endInsertRows();
  return row;
}

bool ReportListModel::HasCell(int row, int column) const {
  return row >= 0 && row < GetItemCount() && column >= 0 && column < m_rows[row].size();
}

const QByteArray& ReportListModel::GetItemText(int row, int column) const {
  static const QByteArray kNoCell;
  if (!HasCell(row, column)) return kNoCell;
  return m_rows[row][column];
}

void ReportListModel::SetItemText(int row, int column, const QByteArray& text) {
  if (!HasCell(row, column)) return;
  m_rows[row][column] = text;
  const QModelIndex cell = index(row, column);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void ReportListModel::SetColumnText(const std::vector<int>& rows, int column,
                                    const QByteArray& text) {
  int first = GetItemCount();
  int last = -1;
  for (const int row : rows) {
    if (!HasCell(row, column)) continue;
    m_rows[row][column] = text;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  if (last < 0) return;
  emit dataChanged(index(first, column), index(last, column), {Qt::DisplayRole});
}

int ReportListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : GetItemCount();
}

int ReportListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return FromCp949(GetItemText(index.row(), index.column()));
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return FromCp949(m_columns[size_t(section)].header);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

#include "core/relay/clientlistmodel.h"

#include "core/relay/clientregistry.h"
#include "core/text/cp949.h"

ClientListModel::ClientListModel(const ClientRegistry& registry, QObject* parent)
    : QAbstractTableModel(parent), m_registry(registry) {}

const std::array<ClientListModel::Column, 4>& ClientListModel::Columns() {
  static const std::array<Column, 4> columns = {{
      {ToCp949(QStringLiteral("내선")), 70},
      {ToCp949(QStringLiteral("IP")), 90},
      {ToCp949(QStringLiteral("ID")), 60},
      {ToCp949(QStringLiteral("전화")), 100},
  }};
  return columns;
}

int ClientListModel::GetItemCount() const { return int(m_registry.Rows().size()); }

QByteArray ClientListModel::GetItemText(int row, int column) const {
  if (row < 0 || row >= GetItemCount()) return {};
  const ClientRow& cells = m_registry.Rows()[size_t(row)];
  const MEMBER* owner = m_registry.Owner(cells);
  switch (column) {
    case 0:
      return cells.text;
    case 1:
      return owner ? owner->szIP : QByteArray();
    case 2:
      return owner ? QByteArray::number(owner->pSocket->Handle()) : QByteArray();
    case 3:
      return cells.notice;
    default:
      return {};
  }
}

int ClientListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : GetItemCount();
}

int ClientListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(Columns().size());
}

QVariant ClientListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return FromCp949(GetItemText(index.row(), index.column()));
}

QVariant ClientListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return FromCp949(Columns()[size_t(section)].header);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

void ClientListModel::CellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn) {
  emit dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn), {Qt::DisplayRole});
}

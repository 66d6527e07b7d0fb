#include "core/relay/clientregistry.h"

#include <QHash>
#include <algorithm>

#include "core/relay/registrationmatch.h"

ClientRegistry::ClientRegistry() : m_model(*this) {}

MEMBER& ClientRegistry::Add(std::unique_ptr<CClientSocket, DeleteClientSocketLater> socket,
                            QByteArray ip, QByteArray host) {
  auto member = std::make_unique<MEMBER>();
  member->id = socket->Id();
  member->szIP = std::move(ip);
  member->host = std::move(host);
  ClientTable& table = Table(socket->Kind());
  member->pSocket = std::move(socket);
  MEMBER& record = *member;
  table[record.id] = std::move(member);
  return record;
}

MEMBER* ClientRegistry::Find(const CClientSocket* client) {
  ClientTable& table = Table(client->Kind());
  const auto it = table.find(client->Id());
  return it != table.end() && it->second->pSocket.get() == client ? it->second.get() : nullptr;
}

void ClientRegistry::Erase(const CClientSocket* client) {
  if (Find(client)) Table(client->Kind()).erase(client->Id());
}

void ClientRegistry::EraseAll() {
  for (ClientRow& row : m_rows) row.owner = nullptr;
  if (!m_rows.empty()) m_model.CellsChanged(0, int(m_rows.size()) - 1, 1, 2);
  m_clients.clear();
  m_clients2.clear();
}

// A host address holds no blank, so the key cannot be read two ways.
QByteArray ClientRegistry::RowKey(const MEMBER& member, const QByteArray& text) const {
  return m_bTakeOverAnyHost ? text : member.host + ' ' + text;
}

int ClientRegistry::RowOfKey(const QByteArray& key) {
  const auto found = m_rowOfKey.constFind(key);
  if (found == m_rowOfKey.cend()) return -1;
  if (found.value() < m_indexStale) return found.value();
  for (int row = m_indexStale; row < int(m_rows.size()); ++row) {
    m_rowOfKey[m_rows[size_t(row)].key] = row;
  }
  m_indexStale = int(m_rows.size());
  return m_rowOfKey.value(key);
}

// One row per key, owned by the client that sent its text last.
Registration ClientRegistry::Register(MEMBER& member, const QByteArray& text) {
  const QByteArray key = RowKey(member, text);
  const int row = RowOfKey(key);
  const bool ownsRow = row >= 0 && m_rows[size_t(row)].owner == &member;
  if (!ownsRow && member.rowCount >= kMaxRowsPerClient) return Registration::OverLimit;
  member.szExtension = text;
  member.registeredAt = ++m_lastRegistration;
  if (ownsRow) return Registration::Filed;

  if (row < 0) {
    const int added = int(m_rows.size());
    m_model.beginInsertRows(QModelIndex(), added, added);
    m_rows.push_back({text, key, &member, {}});
    m_rowOfKey.insert(key, added);
    for (auto naming = m_rowsNaming.begin(); naming != m_rowsNaming.end(); ++naming) {
      if (RegistrationMatches(text, naming.key(), m_bWholeNumbers)) naming->push_back(added);
    }
    if (m_indexStale == added) m_indexStale = added + 1;
    m_model.endInsertRows();
  } else {
    ClientRow& taken = m_rows[size_t(row)];
    if (taken.owner) --taken.owner->rowCount;
    taken.owner = &member;
    m_model.CellsChanged(row, row, 1, 2);
  }
  ++member.rowCount;
  return Registration::Filed;
}

void ClientRegistry::ReleaseRows(const MEMBER& member) {
  if (member.rowCount == 0) return;
  // For each key of member's rows, the client that registered it last.
  QHash<QByteArray, MEMBER*> heirs;
  for (const ClientRow& row : m_rows) {
    if (row.owner == &member) heirs.insert(row.key, nullptr);
  }
  for (auto& [id, other] : m_clients) {
    if (id == member.id || other->pSocket->IsDropped()) continue;
    const auto heir = heirs.find(RowKey(*other, other->szExtension));
    if (heir == heirs.end()) continue;
    if (!heir.value() || heir.value()->registeredAt < other->registeredAt)
      heir.value() = other.get();
  }

  int firstHandedBack = int(m_rows.size());
  int lastHandedBack = -1;
  int firstRemoved = int(m_rows.size());
  int lastRemoved = -1;
  int removed = 0;
  for (int row = 0; row < int(m_rows.size()); ++row) {
    ClientRow& cells = m_rows[size_t(row)];
    if (cells.owner != &member) continue;
    if (MEMBER* heir = heirs.value(cells.key)) {
      cells.owner = heir;
      ++heir->rowCount;
      firstHandedBack = std::min(firstHandedBack, row);
      lastHandedBack = row;
    } else {
      cells.owner = nullptr;
      m_rowOfKey.remove(cells.key);
      firstRemoved = std::min(firstRemoved, row);
      lastRemoved = row;
      ++removed;
    }
  }
  if (lastHandedBack >= 0) m_model.CellsChanged(firstHandedBack, lastHandedBack, 1, 2);
  if (removed == 0) return;
  m_rowsNaming.clear();  // rows move up

  // One run of rows is announced as such; scattered rows as one reset, not
  // row by row, which with many rows cost more than everything else.
  if (lastRemoved - firstRemoved + 1 == removed) {
    m_model.beginRemoveRows(QModelIndex(), firstRemoved, lastRemoved);
    m_rows.erase(m_rows.begin() + firstRemoved, m_rows.begin() + lastRemoved + 1);
    m_model.endRemoveRows();
  } else {
    m_model.beginResetModel();
    m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(),
                                [](const ClientRow& row) { return row.owner == nullptr; }),
                 m_rows.end());
    m_model.endResetModel();
  }
  m_indexStale = std::min(m_indexStale, firstRemoved);
}

void ClientRegistry::SetWholeNumbers(bool wholeNumbers) {
  m_bWholeNumbers = wholeNumbers;
  m_rowsNaming.clear();
}

const std::vector<int>& ClientRegistry::RowsNaming(const QByteArray& extension) {
  auto naming = m_rowsNaming.find(extension);
  if (naming != m_rowsNaming.end()) return *naming;
  std::vector<int> rows;
  for (int row = 0; row < int(m_rows.size()); ++row) {
    if (RegistrationMatches(m_rows[size_t(row)].text, extension, m_bWholeNumbers)) {
      rows.push_back(row);
    }
  }
  return *m_rowsNaming.insert(extension, std::move(rows));
}

void ClientRegistry::SetNoticeText(const std::vector<int>& rows, const QByteArray& text) {
  if (rows.empty()) return;
  for (const int row : rows) m_rows[size_t(row)].notice = text;
  m_model.CellsChanged(*std::min_element(rows.begin(), rows.end()),
                       *std::max_element(rows.begin(), rows.end()), 3, 3);
}

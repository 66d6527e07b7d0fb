#pragma once

#include <QByteArray>
#include <QHash>
#include <map>
#include <memory>
#include <vector>

#include "core/relay/clientlistmodel.h"
#include "core/relay/clientsocket.h"

// Names a client for as long as the relay runs; never given twice.
using ClientId = quint64;

// The record the relay holds for one client.
struct MEMBER {
  ClientId id = 0;
  QByteArray szIP;           // dotted IPv4, at most 15 characters
  QByteArray host;           // the peer's address, IPv4 or IPv6: what the per-host rules go by
  QByteArray szExtension;    // last registration text, at most 99 bytes
  quint64 registeredAt = 0;  // order of its last registration among all; 0 before one
  int rowCount = 0;          // rows of the clients list it owns
  std::unique_ptr<CClientSocket, DeleteClientSocketLater> pSocket;
};

using ClientTable = std::map<ClientId, std::unique_ptr<MEMBER>>;

// One row of the clients list: a registration text and the client it
// belongs to. The address and descriptor columns are read from the owner.
// The owner is the registry's entry itself: a notice reaches a thousand
// rows' clients without a lookup. The registry keeps it valid: a client's
// rows are handed on or removed before its entry goes.
struct ClientRow {
  QByteArray text;
  QByteArray key;           // what the registry finds the row by: the text, or its host and text
  MEMBER* owner = nullptr;  // null only for a row of no one
  QByteArray notice;        // column 3: the last notice sent for the row
};

enum class Registration { Filed, OverLimit };

// The relay's clients of both kinds and the rows of the extension clients.
// Every change to the rows is announced to the list model it owns.
class ClientRegistry {
 public:
  // Far more than one desk registers; a client past it gets no more rows.
  static constexpr int kMaxRowsPerClient = 100;

  ClientRegistry();
  ClientRegistry(const ClientRegistry&) = delete;
  ClientRegistry& operator=(const ClientRegistry&) = delete;

  ClientId NextId() { return ++m_lastId; }
  // Enters a client under its socket's id; the socket's kind picks the table.
  MEMBER& Add(std::unique_ptr<CClientSocket, DeleteClientSocketLater> socket, QByteArray ip,
              QByteArray host);
  // The entry that holds client, or null.
  MEMBER* Find(const CClientSocket* client);
  // Takes the entry of client out of its table; the socket goes with it.
  // Its rows must have been released.
  void Erase(const CClientSocket* client);
  // Every entry goes; the rows stay, owned by no one.
  void EraseAll();

  // Normally a row passes only between clients of one host (an agent's
  // program that reconnects), so that another host cannot take a desk's
  // calls by registering its text; with anyHost, as the clients were first
  // built, a row goes to whoever registered its text last. Set before the
  // first registration.
  void SetTakeOverAnyHost(bool anyHost) { m_bTakeOverAnyHost = anyHost; }

  // Files text for member: the row with that text (from member's host, unless
  // any host may take it over) becomes member's, or a new row is added. A
  // client that owns kMaxRowsPerClient rows gets no new one.
  Registration Register(MEMBER& member, const QByteArray& text);
  // Before member goes: each of its rows goes back to the open extension
  // client that registered the row's text most recently, if there is one;
  // the others are removed, all in one pass.
  void ReleaseRows(const MEMBER& member);
  // How a registration names an extension (see RegistrationMatches).
  void SetWholeNumbers(bool wholeNumbers);
  // The rows whose text names extension, in order. Kept per extension while
  // rows are only added, so that a notice does not read every row's text.
  const std::vector<int>& RowsNaming(const QByteArray& extension);
  // The same notice text in column 3 of all the given rows, one change.
  void SetNoticeText(const std::vector<int>& rows, const QByteArray& text);

  ClientTable& Table(int kind) { return kind == kLdkClient ? m_clients2 : m_clients; }
  const ClientTable& Table(int kind) const { return kind == kLdkClient ? m_clients2 : m_clients; }
  const std::vector<ClientRow>& Rows() const { return m_rows; }
  // The extension client a row belongs to; null only for a row of no one.
  static MEMBER* Owner(const ClientRow& row) { return row.owner; }

  ClientListModel& Model() { return m_model; }
  const ClientListModel& Model() const { return m_model; }

 private:
  QByteArray RowKey(const MEMBER& member, const QByteArray& text) const;
  int RowOfKey(const QByteArray& key);

  ClientTable m_clients;   // extension clients
  ClientTable m_clients2;  // LDK505 clients
  std::vector<ClientRow> m_rows;
  // A registration finds its row by key without looking at every row. Rows
  // from m_indexStale on have moved since they were indexed: the next lookup
  // that needs one of them indexes them again, once for many closes.
  QHash<QByteArray, int> m_rowOfKey;
  int m_indexStale = 0;
  QHash<QByteArray, std::vector<int>> m_rowsNaming;
  bool m_bWholeNumbers = false;
  ClientId m_lastId = 0;
  quint64 m_lastRegistration = 0;
  bool m_bTakeOverAnyHost = false;
  ClientListModel m_model;
};

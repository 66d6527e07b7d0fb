#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <array>
#include <functional>

#include "core/callevent/calleventoutput.h"

#include "core/relay/acceptpause.h"
#include "core/relay/activitythrottle.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientadmission.h"
#include "core/relay/clientregistry.h"
#include "core/relay/clientsendbatch.h"

class SettingsStore;

// The client relay: both listening sockets, the registry of the clients
// they accepted with the rows those registered, and the batch that sends
// go out through. Activity it reports goes out as signals.
class ClientRelay : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  ClientRelay(quint16 extPort, quint16 ldkPort, QObject* parent = nullptr);
  ~ClientRelay() override;

  // Debug logging adds a line for every connection and registration.
  void SetLogType(qint32 logType) { m_nLogType = logType; }
  // Runs just before anything is handed to the clients.
  void SetBeforeSend(std::function<void()> beforeSend);

  // accesssettings.cpp: who may connect, how many and for how long, how
  // rows pass between clients and how notices match them; bad values are
  // reported through ErrorLine. Before StartListening.
  void ReadAccessSettings(SettingsStore& settings);

  // listening.cpp: a port whose listen address could not be read stays closed.
  void StartListening();
  const QByteArray& HostAddress() const { return m_strHostAddress; }
  const QTcpServer& Server(int kind) const {
    return kind == kLdkClient ? m_serverSocket2 : m_serverSocket;
  }
  quint16 Port(int kind) const { return kind == kLdkClient ? m_nLdkPort : m_nExtPort; }

  // clientaccept.cpp
  void OnSocketAccept();
  void OnSocketAccept2();
  // clientreceive.cpp
  void OnSocketReceive(CClientSocket* client, int kind);
  // clientclose.cpp
  void OnSocketClose(CClientSocket* client, int kind);
  void CloseAllClients();
  // slowclientdrop.cpp: a client over the bound of unsent data gets an
  // activity line and is then removed as on close.
  void OnSocketOverflow(CClientSocket* client, int kind);
  // registerdeadline.cpp: an extension client that has not registered in
  // time is removed, so that idle connections cannot pile up.
  void OnRegisterDeadline(CClientSocket* client);
  // broadcast.cpp
  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;
  // The record to every extension client whose row names the account's
  // extension (to every row when everyRow), two lines to every LDK505 client.
  void BroadcastCallNotice(const CallNotice& notice, bool everyRow);

  ClientRegistry& Registry() { return m_registry; }
  const ClientRegistry& Registry() const { return m_registry; }
  // The clients list the window shows.
  const ClientListModel& Clients() const { return m_registry.Model(); }
  ClientListModel& Clients() { return m_registry.Model(); }

 signals:
  // A line for the top of the activity list (CP949).
  void ActivityLine(const QByteArray& cp949);
  // A setting that could not be used (CP949).
  void ErrorLine(const QByteArray& cp949);
  // A notice's two LDK505 lines went to that many LDK505 clients.
  void LdkNoticeSent(const QByteArray& ringLine, const QByteArray& noticeLine, int clients);
  // A notice's record went to that many extension clients.
  void ExtensionNoticeSent(int clients);
  // A connection on the port of kind was closed at accept.
  void Refused(int kind, Admission why);
  void HostAddressKnown(const QByteArray& address);

 private:
  // Lines the throttle counts, by host.
  enum ThrottledLine { kRefusedLine, kOverHostLimitLine, kLateLine, kOverLimitLine, kDroppedLine };

  // clientaccept.cpp
  void AcceptWaiting(QTcpServer& server, int kind,
                     const std::function<void(const MEMBER&)>& accepted);
  // Closes a connection that may not stay, with nothing sent or read.
  bool Admit(QTcpSocket& connection, int kind);

  quint16 m_nExtPort;
  quint16 m_nLdkPort;
  qint32 m_nLogType = 0;
  QTcpServer m_serverSocket;
  QTcpServer m_serverSocket2;
  AcceptPause m_acceptPause{{&m_serverSocket, &m_serverSocket2},
                            [this](const QByteArray& line) { emit ActivityLine(line); }};
  QByteArray m_strHostAddress;
  std::array<QHostAddress, 2> m_listenAddress{QHostAddress(QHostAddress::AnyIPv4),
                                              QHostAddress(QHostAddress::AnyIPv4)};  // by kind
  ClientAdmission m_admission;
  ActivityThrottle m_throttle{[this](const QByteArray& line) { emit ActivityLine(line); }};
  int m_registerWaitMs = 0;     // 0: no deadline
  ClientSendBatch m_sendBatch;  // before the registry, whose sockets send through it
  ClientRegistry m_registry;
};

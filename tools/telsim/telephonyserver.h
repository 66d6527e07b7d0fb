#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include "core/relay/acceptpause.h"
#include "core/telephony/telprotocol.h"
#include "tools/telsim/signinthrottle.h"
#include "tools/telsim/telaccount.h"

class QTcpSocket;

// A telephony server for tests, the demo and load runs: accepts telephony
// controls, answers their sign-ins from a table of accounts and sends call
// events for an account on command.
//
// Events for an ID go to every open connection whose latest sign-in named
// that ID, whatever the answer was, so that a test can also feed a control
// whose sign-in failed.
//
// Near the descriptor limit it stops accepting until connections leave, as
// the relay does.
class TelephonyServer : public QObject {
  Q_OBJECT
 public:
  explicit TelephonyServer(QObject* parent = nullptr);
  ~TelephonyServer() override;

  // Port 0 takes a free port; Port() tells which.
  bool Listen(quint16 port, const QHostAddress& address = QHostAddress(QHostAddress::LocalHost));
  quint16 Port() const;
  QString ErrorString() const;
  // Stops listening and closes every connection once its pending data is out.
  void Close();

  // Replaces an account with the same ID.
  void AddAccount(const TelAccount& account);
  QList<TelAccount> Accounts() const;
  bool IsSignedIn(const QString& accountId) const;
  QStringList SignedInAccounts() const;
  int ConnectionCount() const;

  // Each returns how many connections the event went to.
  int SendRing(const QString& accountId, const QString& caller, const QString& inExten,
               bool isDial);
  int SendHangUp(const QString& accountId, const QString& caller, const QString& inExten,
                 const QString& channelPeer);
  int SendCallEnd(const QString& accountId);
  // Any event name and text; a null text goes as a line without text field.
  int SendRaw(const QString& accountId, const QString& eventName, const QString& text);

  // While a reason is set the server is cut off from its calls: every
  // connection whose sign-in the account table accepted is told so in a
  // LoginResult with STATUS 0 and the reason, and so is every such sign-in
  // meanwhile. Clearing the reason (empty) sends them their accepted answer again.
  void SetOutage(const QString& reason);
  bool InOutage() const { return !m_outageReason.isEmpty(); }
  // Off by default (a test may feed a control whose sign-in failed); a server
  // in front of real calls turns it on so that only signed-in connections hear them.
  void SetEventsOnlyToSignedIn(bool only) { m_bEventsOnlyToSignedIn = only; }
  // Off by default (the relay's tests need the distinct refusals); a server
  // reachable from a network turns it on: an unknown ID and a wrong password
  // get the same answer, answers to an address that keeps failing are
  // delayed (SignInThrottle), and a new sign-in to an account closes the
  // account's other session. Notice reports each with the peer's address.
  void SetGuardedSignIn(bool guarded) { m_bGuarded = guarded; }

  // Hooks for robustness tests: bytes as they are, outside the protocol, and
  // a close after such bytes (half a line, say).
  int SendBytes(const QString& accountId, const QByteArray& bytes);
  int CloseConnections(const QString& accountId, const QByteArray& lastBytes = {});

 signals:
  // Every sign-in request, kind being "LOGIN" or "LOGINDCS", with the answer sent.
  void SignInHandled(const QString& kind, const QString& accountId, const QString& password,
                     const QString& reply);
  // A connection signed in with STATUS 1 or more, or left that state.
  void AccountSignedIn(const QString& accountId);
  void AccountSignedOut(const QString& accountId);
  // A sign-out request, as against a connection that just went away.
  void SignOutRequested(const QString& accountId);
  void ConnectionCountChanged(int count);
  void EventSent(const QString& accountId, const QString& eventName, const QString& text,
                 int connections);
  // It stopped accepting for want of descriptors, or started again.
  void AcceptingChanged(const QString& line);
  // Guarded sign-ins: a refusal (rate-limited), a session closed or refused
  // for another of the same account.
  void Notice(const QString& line);

 private:
  struct Link {
    TelLineReader reader;
    // Named by the latest sign-in; empty before one and after a sign-out.
    QString accountId;
    bool signedIn = false;
    // The account table accepted the latest sign-in; during an outage it is not signed in.
    bool accepted = false;
    // Lines wait here while the answer to a sign-in is delayed.
    QList<QByteArray> pendingLines;
    bool held = false;
    // The address whose session of the account this one closed, and when.
    QHostAddress displaced;
    qint64 displacedAtMs = 0;
  };

  void OnNewConnection();
  void OnReadyRead(QTcpSocket* socket);
  void OnDisconnected(QTcpSocket* socket);
  void HandleLine(QTcpSocket* socket, const QByteArray& line);
  void SignIn(QTcpSocket* socket, const QString& kind, const QString& accountId,
              const QString& password);
  void Answer(QTcpSocket* socket, const QString& kind, const QString& accountId,
              const QString& password);
  // Counts refusals and keeps one session per account; false when the
  // sign-in has been answered here instead.
  bool Admit(QTcpSocket* socket, const QString& kind, const QString& accountId, bool accepted);
  void SignOut(QTcpSocket* socket);
  // The answer a sign-in gets now, and the one it gets outside an outage.
  QString LoginReply(const QString& accountId, const QString& password) const;
  QString AcceptedReply(const QString& accountId, const QString& password) const;
  QList<QTcpSocket*> LinksOf(const QString& accountId) const;
  void SendLoginResult(QTcpSocket* socket, const QString& reply);
  int SendToAccount(const QString& accountId, const QByteArray& bytes);
  // The call an account is in, started by a ring and ended by a call end.
  QString CallIdOf(const QString& accountId, bool newCall);

  QTcpServer m_server;
  AcceptPause m_acceptPause;
  QHash<QTcpSocket*, Link> m_links;
  QMap<QString, TelAccount> m_accounts;
  QHash<QString, QString> m_currentCalls;
  qint64 m_nStartSecs;
  quint64 m_nCallSerial = 0;
  quint32 m_nChannelSerial = 0;
  QString m_outageReason;
  bool m_bEventsOnlyToSignedIn = false;
  bool m_bGuarded = false;
  SignInThrottle m_throttle;
  QElapsedTimer m_clock;
};

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include "tools/amibridge/amimessage.h"
#include "tools/amibridge/amiparser.h"

class QTcpSocket;

// A manager interface for tests, written from the AMI documentation: greets,
// answers Challenge, Login (MD5 key or plain secret) and Ping, and plays what
// a test gives it to every signed-in connection, including what a real PBX
// will not produce on demand: refused logins, drops, garbage, huge blocks.
class ScriptedAmiPeer : public QObject {
  Q_OBJECT
 public:
  ScriptedAmiPeer(QByteArray user, QByteArray secret, QObject* parent = nullptr);
  ~ScriptedAmiPeer() override;

  // The same port again after StopListening, as a restarted PBX.
  bool Listen();
  quint16 Port() const { return m_nPort; }
  void StopListening() { m_server.close(); }

  void SetRefuseLogins(bool refuse) { m_bRefuse = refuse; }
  void SetOfferChallenge(bool offer) { m_bOfferChallenge = offer; }
  // Leaves Ping unanswered, as a PBX that hangs would.
  void SetAnswerPings(bool answer) { m_bAnswerPings = answer; }

  // Bytes as they are to every signed-in connection.
  void Play(const QByteArray& bytes);
  void DropConnections();

  int SignedInConnections() const;
  int LoginAttempts() const { return m_nLoginAttempts; }
  // When each Login came, in milliseconds of a monotonic clock.
  const QList<qint64>& LoginTimes() const { return m_loginTimes; }
  int Pings() const { return m_nPings; }
  // The Login actions received, as they came.
  const QList<AmiMessage>& Logins() const { return m_logins; }

 private:
  struct Link {
    AmiParser parser;
    QByteArray challenge;
    bool signedIn = false;
  };
  void OnNewConnection();
  void OnAction(QTcpSocket* socket, Link& link, const AmiMessage& action);

  QByteArray m_user;
  QByteArray m_secret;
  QTcpServer m_server;
  quint16 m_nPort = 0;
  QHash<QTcpSocket*, Link> m_links;
  bool m_bRefuse = false;
  bool m_bOfferChallenge = true;
  bool m_bAnswerPings = true;
  int m_nLoginAttempts = 0;
  int m_nPings = 0;
  QList<AmiMessage> m_logins;
  QList<qint64> m_loginTimes;
  QElapsedTimer m_clock;
};

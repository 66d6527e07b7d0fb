#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include "tools/amibridge/amimessage.h"
#include "tools/amibridge/amiparser.h"

// Where and as whom the bridge signs in to the PBX's manager interface.
struct AmiEndpoint {
  QString host = QStringLiteral("127.0.0.1");
  quint16 port = 5038;
  QByteArray user;
  QByteArray secret;
  // The secret in clear text when the PBX refuses the MD5 challenge; off,
  // such a PBX is left and tried again later.
  bool allowPlainSecret = false;
};

struct AmiTiming {
  // A ping after this long without a word from the PBX; the link counts as
  // lost when nothing has come within replyTimeoutMs of a ping or a login step.
  int pingIntervalMs = 20000;
  int replyTimeoutMs = 10000;
  // Waits before a new attempt after a drop or a refusal: doubled each time up to the most.
  int firstRetryMs = 1000;
  int maxRetryMs = 60000;
};

// The link to one PBX: connects, signs in with the MD5 challenge (the plain
// secret only where allowed), keeps the link alive with pings and comes back
// after every loss with growing waits. Events go out only while signed in.
class AmiConnection : public QObject {
  Q_OBJECT
 public:
  AmiConnection(AmiEndpoint endpoint, AmiTiming timing, QObject* parent = nullptr);
  ~AmiConnection() override;

  void Start();
  void Stop();
  bool IsUp() const { return m_state == State::Up; }
  // The PBX's first line on the current link ("Asterisk Call Manager/9.0.0").
  const QByteArray& Greeting() const { return m_parser.Greeting(); }
  // Sends an action while signed in; false otherwise.
  bool Send(const AmiMessage& action);

 signals:
  void Up();
  // A signed-in link ended, or an attempt failed; reason says how.
  void Down(const QString& reason);
  void EventReceived(const AmiMessage& event);
  void Warning(const QString& text);

 private:
  enum class State { Stopped, Waiting, Connecting, Challenging, LoggingIn, Up };

  void Connect();
  void OnConnected();
  void OnReadyRead();
  void OnResponse(const AmiMessage& response);
  void SendLogin(const QByteArray& challenge);
  void Fail(const QString& reason);
  void SendPing();
  void Write(const AmiMessage& action);

  AmiEndpoint m_endpoint;
  AmiTiming m_timing;
  State m_state = State::Stopped;
  QTcpSocket m_socket;
  AmiParser m_parser;
  QTimer m_retryTimer;
  QTimer m_pingTimer;
  QTimer m_replyTimer;
  int m_nRetryMs;
};

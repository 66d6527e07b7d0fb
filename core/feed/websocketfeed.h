#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "core/callevent/calleventoutput.h"
#include "core/config/settingsfilewatch.h"
#include "core/feed/feedlistener.h"
#include "core/feed/feedpages.h"
#include "core/feed/feedtoken.h"
#include "core/relay/activitythrottle.h"

class QTcpSocket;
class QWebSocket;
class SettingsStore;

// Call events as JSON over WebSocket, for browsers and CRMs. A connection
// says who it is with its first message, a token, and then hears the events
// of the extensions its token names (an administrator's: every event). The
// same port serves the pages that show them.
class WebSocketFeed : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  // Close codes a client sees, documented for the pages that use them.
  enum CloseCode : quint16 {
    kBadMessage = 4000,
    kNoToken = 4001,
    kUnknownToken = 4003,
    kTokenRemoved = 4004,
    kTooSlow = 4008,
  };
  static constexpr int kSignInMs = 5000;
  // About 250 call events: a browser that far behind has stopped reading.
  static constexpr qint64 kMaxQueuedBytes = 64 * 1024;
  static constexpr quint16 kDefaultPort = 8690;
  static constexpr int kStatusMs = 1000;
  // How long an answer, a call's end or a status may wait to leave with the
  // next ring: a ring is what an agent waits for, and a send per frame to
  // each browser would cost the relay three times what a ring costs it.
  static constexpr int kHoldMs = 50;

  // port 0: no feed.
  explicit WebSocketFeed(quint16 port, QObject* parent = nullptr);
  ~WebSocketFeed() override;

  // Address, TLS or the clear-text rule, who may connect, relay name and
  // tokens; the tokens again whenever the settings file changes.
  void ReadSettings(SettingsStore& settings);
  // The relay's state, sent to administrators when they sign in and each
  // second when it changed.
  void SetStatusSource(std::function<QJsonObject()> status) { m_status = std::move(status); }
  // The text of /metrics.
  void SetMetricsSource(std::function<QByteArray()> metrics) {
    m_pages.SetMetricsSource(std::move(metrics));
  }
  void Start();
  quint16 ListeningPort() const { return m_listener->serverPort(); }
  // Open connections, signed in or not yet.
  qsizetype Connections() const { return qsizetype(m_connections.size()); }

  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;

 signals:
  void ActivityLine(const QByteArray& cp949);
  void ErrorLine(const QByteArray& cp949);
  // A call event went to that many connections.
  void EventSent(int connections);
  void Refused(const QByteArray& host, Admission why);

 private:
  enum ThrottledLine { kRefusedLine, kOverHostLimitLine, kHandshakeFailedLine, kDroppedLine };
  // When what was written to a connection goes to the system.
  enum class Flush {
    None,
    AfterPass,  // once this pass of the event loop is over
    Held,       // with the next of those or after kHoldMs, whichever is first
  };
  struct Connection {
    QTcpSocket* wire = nullptr;  // under the WebSocket, which owns it
    bool encrypted = false;
    bool signedIn = false;
    QByteArray waiting;  // frames not yet written to the wire
    Flush flush = Flush::None;
    FeedToken token;
  };

  void ReadAccess(SettingsStore& settings);
  bool ReadTls(SettingsStore& settings);
  void OnRefused(const QByteArray& host, Admission why);
  void OnNewConnection();
  void OnTextMessage(QWebSocket* socket, const QString& message);
  void ReadTokens();
  void Close(QWebSocket* socket, CloseCode code, const QString& reason);
  // Sends message, made once if anyone hears it and it is not nullopt, to
  // the signed-in connections that hear it; returns how many.
  int SendToEach(const std::function<bool(const Connection&)>& hears,
                 const std::function<std::optional<QByteArray>()>& message, Flush flush);
  // Writes a text frame to the connection, on its way as flush says.
  void Send(QWebSocket* socket, Connection& connection, const QByteArray& frame, Flush flush);
  static qint64 Queued(const Connection& connection);
  // Hands the connection's waiting frames to the system.
  static void WriteOut(Connection& connection);
  // WriteOut for the connections in list whose frames wait for flush.
  void FlushWaiting(std::vector<QWebSocket*>& list, Flush flush);
  QByteArray StatusJson() const;
  void SendStatusIfChanged();

  quint16 m_port;
  QHostAddress m_address{QHostAddress::LocalHost};
  bool m_allowClearText = false;
  bool m_tlsUnusable = false;  // set but unreadable: the feed stays closed
  QString m_relayName;
  QString m_linkTemplate;  // FEEDLINK, for the pages
  SettingsStore* m_settings = nullptr;
  SettingsFileWatch m_settingsWatch;
  QHash<QByteArray, FeedToken> m_tokensByHash;
  std::function<QJsonObject()> m_status;
  QByteArray m_lastStatus;  // as administrators last got it
  QTimer m_statusTimer;
  std::map<QWebSocket*, Connection> m_connections;  // open and not being closed
  std::vector<QWebSocket*> m_afterPass;             // to flush once this pass is over
  std::vector<QWebSocket*> m_held;
  QTimer m_holdTimer;
  ActivityThrottle m_throttle;
  FeedPages m_pages;         // owns the listener once listening
  FeedListener* m_listener;  // admits connections for the pages and the WebSockets
};

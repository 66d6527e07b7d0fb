#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>

#include "core/telephony/telbaseopenapi.h"
#include "core/telephony/telprotocol.h"

class QTcpSocket;

// Failed sign-ins and lost links still give an outcome after this long.
constexpr int kTelSignInTimeoutMs = 10000;

// Stand-in for the vendor telephony control: reaches the telephony server
// over TCP at the account's server address and the given port, and speaks
// the line protocol of telprotocol.h. One connection per sign-in.
class NetworkTelControl : public CTelBaseOpenApi {
  Q_OBJECT
 public:
  NetworkTelControl(int controlId, quint16 port, int signInTimeoutMs = kTelSignInTimeoutMs,
                    QObject* parent = nullptr);

  bool IsLoggedIn() override;
  void Logout() override;
  bool LoginDCS(const QByteArray& id, const QByteArray& pwd,
                const QByteArray& serverAddress) override;
  bool Login(const QByteArray& id, const QByteArray& pwd, const QByteArray& serverAddress) override;

 private:
  bool SignIn(QByteArrayView kind, const QByteArray& id, const QByteArray& pwd,
              const QByteArray& serverAddress);
  void OnConnected();
  void OnReadyRead();
  void OnConnectionLost(const QString& reason);
  void OnSignInTimeout();
  // False when a handler of the event replaced or closed the connection.
  bool DispatchLine(const QByteArray& line);
  void DropConnection();
  void PostSignInFailure(const QString& reason);

  quint16 m_nPort;
  QTcpSocket* m_pSocket = nullptr;
  TelLineReader m_reader;
  QByteArray m_signInLine;
  QTimer m_signInTimer;
  // Bumped whenever the connection is dropped, so that late news of an old one is ignored.
  quint64 m_nGeneration = 0;
  // A sign-in is out and its outcome has not been reported yet.
  bool m_bAwaitingResult = false;
  // The server's last LoginResult said STATUS 1 or more.
  bool m_bSignedIn = false;
};

// Creates stand-in controls that reach the telephony server on port.
TelControlFactory NetworkTelControlFactory(quint16 port);

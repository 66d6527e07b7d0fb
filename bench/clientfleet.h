#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "bench/ringledger.h"

class QSocketNotifier;

// Closes a TCP connection with a reset, leaving no TIME_WAIT behind.
void CloseAtOnce(int fd);

// The relay's clients for a run: extension and LDK505 clients, and browsers
// of the feed, on one epoll descriptor, cheap enough that a thousand of them
// leave the relay its CPU. Every ring notice a client receives goes to the
// ledger, with the time.
class ClientFleet : public QObject {
  Q_OBJECT
 public:
  // The feed token the relay gives the browsers: every account's extension.
  static constexpr char kBrowserToken[] = "bench-agent";

  struct Options {
    quint16 extPort = 0;
    quint16 ldkPort = 0;
    int extClients = 0;
    int ldkClients = 0;
    // Extension client n registers this text followed by ",c<n>", so that
    // every client has a row of its own.
    QByteArray registration;
    quint16 feedPort = 0;
    int browsers = 0;  // signed in with kBrowserToken, reading every event
  };

  ClientFleet(Options options, RingLedger& ledger);
  ~ClientFleet() override;

  // Connects every client, in small batches so that the relay's listen
  // queue never overflows, and returns once each extension client has its
  // acknowledgement, each LDK505 client its greeting and each browser its
  // welcome.
  bool Connect(QString* error);
  // From here on the event loop feeds received data to the ledger.
  void Watch();

  // Clients whose connection the relay ended.
  int Lost() const { return m_nLost; }
  // Bytes that fit no record or line of the protocol.
  int64_t Garbled() const { return m_nGarbled; }

 private:
  struct Client {
    int fd = -1;
    bool ldk = false;
    bool browser = false;
    bool ready = false;  // acknowledged or greeted
    int ackLeft = 0;     // bytes of the acknowledgement still to come
    QByteArray pending;  // start of a record or line
  };

  bool OpenClient(bool ldk, int number, QString* error);
  bool OpenBrowser(int number, QString* error);
  // Reads fd from here on, without blocking.
  Client& Watch(int fd);
  void ReadReady(int maxEvents, int timeoutMs);
  void Read(Client& client);
  void TakeRecords(Client& client);
  void TakeLines(Client& client);
  void TakeFrames(Client& client);
  // A notice naming caller arrived at now.
  void TakeCaller(QByteArrayView caller, int64_t now, RingLedger::Group group = RingLedger::kDesks);
  void Drop(Client& client);

  Options m_options;
  RingLedger& m_ledger;
  int m_epoll = -1;
  std::vector<std::unique_ptr<Client>> m_clients;
  int m_nReady = 0;
  int m_nLost = 0;
  int64_t m_nGarbled = 0;
  QSocketNotifier* m_notifier = nullptr;
};

#pragma once

#include <amqp.h>

#include <QByteArray>
#include <QString>
#include <chrono>
#include <mutex>

#include "core/stream/amqpsettings.h"

// One connection to an AMQP 0-9-1 broker with channel 1 open, for the
// relay's publisher and the consumer tool. Every call waits at most the
// timeout given to Open, so that a silent broker cannot hold its thread.
class AmqpConnection {
 public:
  AmqpConnection();
  ~AmqpConnection();
  AmqpConnection(const AmqpConnection&) = delete;
  AmqpConnection& operator=(const AmqpConnection&) = delete;

  static constexpr amqp_channel_t kChannel = 1;

  // Connects, logs in, opens the channel and declares the exchange as a
  // durable topic exchange; false with ErrorString() set.
  bool Open(const AmqpSettings& settings, std::chrono::milliseconds timeout);
  const QString& ErrorString() const { return m_error; }
  amqp_connection_state_t Handle() const { return m_state; }
  // False with ErrorString() set when the last RPC-style call failed.
  bool CheckReply(const char* what);
  // Sets ErrorString() from a library status; false.
  bool Fail(const char* what, int status);
  // While corked, the frames of many messages leave in full segments
  // instead of a small one each; uncorking sends what is held at once.
  void Cork(bool corked);
  // From any thread: ends the connection's waits at once, and Open's from
  // then on, for a stop that must not wait for a silent broker.
  void Cut();

 private:
  bool Check(const amqp_rpc_reply_t& reply, const char* what);

  amqp_connection_state_t m_state;
  QString m_error;
  std::mutex m_cutMutex;
  bool m_cut = false;
  int m_socket = -1;  // once open
};

// An AMQP byte string over bytes that outlive it.
amqp_bytes_t AmqpBytes(const QByteArray& bytes);

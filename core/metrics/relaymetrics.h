#pragma once

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <chrono>

#include "core/relay/clientadmission.h"

// The three ports clients reach the relay on, as the metrics name them.
enum class ClientPort { Extension, Ldk505, Feed };
inline constexpr size_t kClientPorts = 3;

// The relay's figures in Prometheus' text format. Counters and the latency
// histogram count as things happen, each an atomic add on a metric made
// at construction; gauges are set from a snapshot when the text is asked for.
class RelayMetrics {
 public:
  struct Snapshot {
    int accountsSignedIn = 0;
    std::array<qint64, kClientPorts> clients{};  // by ClientPort
    qint64 recordsWaiting = 0;
  };

  RelayMetrics();

  void NoticesSent(ClientPort port, int clients);
  // From reading a ring to having handed its notices to the client sockets.
  void RingRelayed(std::chrono::steady_clock::duration latency);
  void RecordWritten();
  void RecordRejected();
  void Refused(ClientPort port, Admission why);

  QByteArray Text(const Snapshot& snapshot) const;

 private:
  prometheus::Registry m_registry;
  prometheus::Gauge* m_accountsSignedIn;
  std::array<prometheus::Gauge*, kClientPorts> m_clients;
  std::array<prometheus::Counter*, kClientPorts> m_noticesSent;
  prometheus::Histogram* m_ringLatency;
  prometheus::Gauge* m_recordsWaiting;
  prometheus::Counter* m_recordsWritten;
  prometheus::Counter* m_recordsRejected;
  std::array<prometheus::Counter*, kClientPorts> m_notAllowed;
  std::array<prometheus::Counter*, kClientPorts> m_overHostLimit;
};

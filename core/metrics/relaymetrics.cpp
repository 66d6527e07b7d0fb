#include "core/metrics/relaymetrics.h"

#include <prometheus/text_serializer.h>

namespace {

const std::array<std::string, kClientPorts> kPortNames{"extension", "ldk505", "feed"};

// A notice normally leaves well under a millisecond after its ring; a
// thousand clients or a busy machine take it towards a second.
const prometheus::Histogram::BucketBoundaries kLatencyBuckets{
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0};

template <typename Metric>
std::array<Metric*, kClientPorts> ByPort(prometheus::Family<Metric>& family,
                                         const std::string& label,
                                         const prometheus::Labels& more = {}) {
  std::array<Metric*, kClientPorts> metrics{};
  for (size_t port = 0; port < metrics.size(); ++port) {
    prometheus::Labels labels = more;
    labels.emplace(label, kPortNames[port]);
    metrics[port] = &family.Add(labels);
  }
  return metrics;
}

size_t IndexOf(ClientPort port) { return size_t(port); }

}  // namespace

RelayMetrics::RelayMetrics() {
  using namespace prometheus;
  m_accountsSignedIn = &BuildGauge()
                            .Name("tarvex_accounts_signed_in")
                            .Help("Telephone accounts signed in to the telephony server")
                            .Register(m_registry)
                            .Add({});
  m_clients = ByPort(BuildGauge()
                         .Name("tarvex_clients")
                         .Help("Client connections open, by kind")
                         .Register(m_registry),
                     "kind");
  m_noticesSent = ByPort(BuildCounter()
                             .Name("tarvex_notices_sent_total")
                             .Help("Call notices written to clients, by kind of client")
                             .Register(m_registry),
                         "kind");
  m_ringLatency = &BuildHistogram()
                       .Name("tarvex_ring_to_send_seconds")
                       .Help(
                           "Time from reading a ring from the telephony side to handing "
                           "its notices to the client sockets")
                       .Register(m_registry)
                       .Add({}, kLatencyBuckets);
  m_recordsWaiting = &BuildGauge()
                          .Name("tarvex_records_waiting")
                          .Help("Call records waiting in the spool for the database")
                          .Register(m_registry)
                          .Add({});
  m_recordsWritten = &BuildCounter()
                          .Name("tarvex_records_written_total")
                          .Help("Call records written to the database")
                          .Register(m_registry)
                          .Add({});
  m_recordsRejected = &BuildCounter()
                           .Name("tarvex_records_rejected_total")
                           .Help(
                               "Call records the database refused or that could not be "
                               "recorded, set down in the reject file where there is one")
                           .Register(m_registry)
                           .Add({});
  auto& refused = BuildCounter()
                      .Name("tarvex_refused_connections_total")
                      .Help("Connections closed at accept, by port and reason")
                      .Register(m_registry);
  m_notAllowed = ByPort(refused, "port", {{"reason", "not_allowed"}});
  m_overHostLimit = ByPort(refused, "port", {{"reason", "host_limit"}});
}

void RelayMetrics::NoticesSent(ClientPort port, int clients) {
  m_noticesSent[IndexOf(port)]->Increment(clients);
}

void RelayMetrics::RingRelayed(std::chrono::steady_clock::duration latency) {
  m_ringLatency->Observe(std::chrono::duration<double>(latency).count());
}

void RelayMetrics::RecordWritten() { m_recordsWritten->Increment(); }

void RelayMetrics::RecordRejected() { m_recordsRejected->Increment(); }

void RelayMetrics::Refused(ClientPort port, Admission why) {
  if (why == Admission::NotAllowed) {
    m_notAllowed[IndexOf(port)]->Increment();
  } else if (why == Admission::OverHostLimit) {
    m_overHostLimit[IndexOf(port)]->Increment();
  }
}

QByteArray RelayMetrics::Text(const Snapshot& snapshot) const {
  m_accountsSignedIn->Set(snapshot.accountsSignedIn);
  for (size_t port = 0; port < kClientPorts; ++port)
    m_clients[port]->Set(double(snapshot.clients[port]));
  m_recordsWaiting->Set(double(snapshot.recordsWaiting));
  return QByteArray::fromStdString(prometheus::TextSerializer().Serialize(m_registry.Collect()));
}

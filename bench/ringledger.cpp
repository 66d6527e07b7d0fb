#include "bench/ringledger.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

namespace {

constexpr int64_t kSeqModulus = 100000000;  // eight digits after "010"

double Quantile(const std::vector<int64_t>& sorted, double q) {
  const size_t index = size_t(std::ceil(q * double(sorted.size()))) - 1;
  return double(sorted[std::min(index, sorted.size() - 1)]) / 1000.0;
}

}  // namespace

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t RingLedger::Stamp() {
  m_rings.push_back({NowNs()});
  return Sent() - 1;
}

void RingLedger::Delivered(int64_t seq, int64_t nowNs, Group group) {
  if (seq < 0 || seq >= Sent() || IsDone(m_rings[size_t(seq)], group)) {
    ++m_nStrays;
    return;
  }
  Ring& ring = m_rings[size_t(seq)];
  ++ring.got[group];
  if (!IsDone(ring, group)) return;
  ring.doneNs[group] = nowNs;
  if (IsDone(ring, kDesks) && IsDone(ring, kBrowsers)) ++m_nCompleted;
}

LatencySummary RingLedger::Latencies(int64_t fromSeq, int64_t toSeq) const {
  return Summary(fromSeq, toSeq, [this](const Ring& ring) -> std::optional<int64_t> {
    if (!IsDone(ring, kDesks) || !IsDone(ring, kBrowsers)) return std::nullopt;
    return std::max(ring.doneNs[kDesks], ring.doneNs[kBrowsers]);
  });
}

LatencySummary RingLedger::Latencies(int64_t fromSeq, int64_t toSeq, Group group) const {
  return Summary(fromSeq, toSeq, [this, group](const Ring& ring) -> std::optional<int64_t> {
    if (!IsDone(ring, group)) return std::nullopt;
    return ring.doneNs[group];
  });
}

template <typename End>
LatencySummary RingLedger::Summary(int64_t fromSeq, int64_t toSeq, End end) const {
  std::vector<int64_t> samples;
  for (int64_t seq = std::max<int64_t>(fromSeq, 0); seq < std::min(toSeq, Sent()); ++seq) {
    const Ring& ring = m_rings[size_t(seq)];
    if (const std::optional<int64_t> doneNs = end(ring)) samples.push_back(*doneNs - ring.sentNs);
  }
  LatencySummary summary;
  summary.count = int64_t(samples.size());
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.p50Us = Quantile(samples, 0.50);
  summary.p99Us = Quantile(samples, 0.99);
  summary.maxUs = double(samples.back()) / 1000.0;
  return summary;
}

QByteArray RingLedger::CallerOf(int64_t seq) {
  return "010" + QByteArray::number(seq % kSeqModulus).rightJustified(8, '0');
}

int64_t RingLedger::SeqOfCaller(const char* text, size_t size) {
  if (size != 11 || text[0] != '0' || text[1] != '1' || text[2] != '0') return -1;
  int64_t seq = 0;
  for (size_t i = 3; i < 11; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    seq = seq * 10 + (text[i] - '0');
  }
  return seq;
}

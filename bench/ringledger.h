#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <vector>

// Monotonic clock in nanoseconds, the one every stamp of the benchmark uses.
int64_t NowNs();

// Latency figures of a set of samples, in microseconds.
struct LatencySummary {
  int64_t count = 0;
  double p50Us = 0;
  double p99Us = 0;
  double maxUs = 0;
};

// Every ring notice the driver sends, by sequence number: when it left the
// simulator and when the last of its recipients had it, of all and of each
// group. The sequence number travels in the caller's number, so each
// received record names its ring.
class RingLedger {
 public:
  // The client ports' desks, and the feed's browsers.
  enum Group { kDesks, kBrowsers };

  explicit RingLedger(int desks, int browsers = 0) : m_recipients{desks, browsers} {}

  // A new ring: its sequence number, stamped now.
  int64_t Stamp();
  // One recipient of group got ring seq at nowNs.
  void Delivered(int64_t seq, int64_t nowNs, Group group = kDesks);

  int64_t Sent() const { return int64_t(m_rings.size()); }
  int64_t Completed() const { return m_nCompleted; }
  int64_t Outstanding() const { return Sent() - m_nCompleted; }
  // Deliveries naming no ring sent, or one more than it has recipients.
  int64_t Strays() const { return m_nStrays; }

  // Over the rings [fromSeq, toSeq) that every recipient got.
  LatencySummary Latencies(int64_t fromSeq, int64_t toSeq) const;
  // The same, up to the last recipient of group.
  LatencySummary Latencies(int64_t fromSeq, int64_t toSeq, Group group) const;

  // The caller's number that carries seq (11 characters, relayed whole) and back.
  static QByteArray CallerOf(int64_t seq);
  static int64_t SeqOfCaller(const char* text, size_t size);

 private:
  struct Ring {
    int64_t sentNs = 0;
    std::array<int64_t, 2> doneNs{};  // by group
    std::array<int32_t, 2> got{};
  };

  bool IsDone(const Ring& ring, Group group) const {
    return ring.got[group] == m_recipients[group];
  }
  // The rings in [fromSeq, toSeq) done, ended by end.
  template <typename End>
  LatencySummary Summary(int64_t fromSeq, int64_t toSeq, End end) const;

  std::array<int32_t, 2> m_recipients;
  std::vector<Ring> m_rings;
  int64_t m_nCompleted = 0;
  int64_t m_nStrays = 0;
};

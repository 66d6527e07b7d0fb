#pragma once

#include <QByteArray>
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
// simulator and when the last of its recipients had it. The sequence number
// travels in the caller's number, so each received record names its ring.
class RingLedger {
 public:
  explicit RingLedger(int recipients) : m_nRecipients(recipients) {}

  // A new ring: its sequence number, stamped now.
  int64_t Stamp();
  // One recipient got ring seq at nowNs.
  void Delivered(int64_t seq, int64_t nowNs);

  int64_t Sent() const { return int64_t(m_rings.size()); }
  int64_t Completed() const { return m_nCompleted; }
  int64_t Outstanding() const { return Sent() - m_nCompleted; }
  // Deliveries naming no ring sent, or one more than it has recipients.
  int64_t Strays() const { return m_nStrays; }

  // Over the rings [fromSeq, toSeq) that every recipient got.
  LatencySummary Latencies(int64_t fromSeq, int64_t toSeq) const;

  // The caller's number that carries seq (11 characters, relayed whole) and back.
  static QByteArray CallerOf(int64_t seq);
  static int64_t SeqOfCaller(const char* text, size_t size);

 private:
  struct Ring {
    int64_t sentNs = 0;
    int64_t doneNs = 0;
    int32_t got = 0;
  };

  int m_nRecipients;
  std::vector<Ring> m_rings;
  int64_t m_nCompleted = 0;
  int64_t m_nStrays = 0;
};

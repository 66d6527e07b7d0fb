#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>

// One extension client that sends registration texts of distinct numbers
// ("1000000\n1000001\n...") as fast as the relay takes them, on a thread of
// its own, and reads back whatever the relay answers on another, so that it
// is never let go as a client that stops reading. It stands for a broken or
// hostile client while the others are measured.
class FloodClient {
 public:
  FloodClient(quint16 port, int64_t bytes);
  ~FloodClient();
  FloodClient(const FloodClient&) = delete;
  FloodClient& operator=(const FloodClient&) = delete;

  bool Start(QString* error);
  // Every byte sent, or the relay closed the connection.
  bool Done() const { return m_bDone; }
  int64_t Sent() const { return m_nSent; }
  // From the start to the last byte sent; valid once done.
  double Seconds() const { return m_seconds; }

 private:
  void SendAll();
  void ReadAll();
  void Finish();

  quint16 m_port;
  int64_t m_nBytes;
  int m_fd = -1;
  std::atomic<int64_t> m_nSent = 0;
  int64_t m_startNs = 0;
  double m_seconds = 0;  // written before m_bDone
  std::atomic<bool> m_bDone = false;
  std::thread m_sender;
  std::thread m_reader;
};

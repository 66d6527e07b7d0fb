#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Browsers that sign in to the feed with an administrator's token, so that
// they are sent every event, and then never read again: what a crowd of
// frozen tabs leaves the relay to carry. Each has a small receive buffer, as
// a stalled tab's would fill.
class StalledBrowsers {
 public:
  static constexpr char kToken[] = "bench-administrator";

  StalledBrowsers(quint16 port, int count);
  ~StalledBrowsers();
  StalledBrowsers(const StalledBrowsers&) = delete;
  StalledBrowsers& operator=(const StalledBrowsers&) = delete;

  // Connects each, upgrades it to a WebSocket, signs in and waits for the
  // welcome; the connections stay open until the crowd goes.
  bool Open(QString* error);

 private:
  bool OpenOne(int number, QString* error);

  quint16 m_port;
  int m_nCount;
  std::vector<int> m_fds;
};

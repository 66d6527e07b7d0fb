#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Many extension connections from one host, each holding many rows whose
// texts match no account: what a terminal server full of desks, or one
// host trying to crowd the desks out, leaves in the relay's table. Each
// registration waits for its acknowledgement, as the clients do.
class RowCrowd {
 public:
  RowCrowd(QByteArray host, quint16 port, int connections, int rowsEach);
  ~RowCrowd();
  RowCrowd(const RowCrowd&) = delete;
  RowCrowd& operator=(const RowCrowd&) = delete;

  // Connects and registers everything; the connections stay open until the crowd goes.
  bool Open(QString* error);
  double Seconds() const { return m_seconds; }

 private:
  bool OpenConnection(int number, QString* error);

  QByteArray m_host;
  quint16 m_port;
  int m_nConnections;
  int m_nRowsEach;
  std::vector<int> m_fds;
  double m_seconds = 0;
};

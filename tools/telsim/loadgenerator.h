#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "tools/telsim/callcycle.h"

class TelephonyServer;

// Keeps the signed-in accounts of a server busy with realistic calls: each
// account in turn goes through ring, hang-up and call end, so that calls of
// different accounts interleave.
class LoadGenerator : public QObject {
  Q_OBJECT
 public:
  explicit LoadGenerator(TelephonyServer& server, QObject* parent = nullptr);

  // The next event of the round; false when no account is signed in.
  bool SendNext();
  // eventsPerSecond events each second, for durationMs (0: until Stop). Events
  // that fall due while no account is signed in are skipped, not saved up.
  void Start(int eventsPerSecond, qint64 durationMs);
  void Stop();
  qint64 SentCount() const { return m_nSent; }

 signals:
  // Once a second while running.
  void Progress(qint64 sentTotal, int accounts);
  void Finished(qint64 sentTotal);

 private:
  void OnTick();

  TelephonyServer& m_server;
  CallCycle m_cycle;
  quint64 m_nTurn = 0;
  quint64 m_nCallSerial = 0;
  qint64 m_nSent = 0;
  QTimer m_ticker;
  QElapsedTimer m_clock;
  int m_nRate = 0;
  qint64 m_nDurationMs = 0;
  qint64 m_nScheduled = 0;
  qint64 m_nReportedSecs = 0;
};

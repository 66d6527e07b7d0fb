#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/db/recordingconnection.h"

class CallRecordSpool;
class CallRecordRejectFile;
struct WriterShared;

// Takes call records from the spool in order and writes them to the database
// on a thread of its own, so that a slow or frozen database never holds up
// the event loop. A record is acknowledged once written, or once refused for
// its values and set down in the reject file; after any other failure the
// writer waits, longer each time, reconnects if the connection broke, and
// tries the same record again.
// What it has to tell arrives as queued signals on the thread that made it.
class CallRecordWriter : public QObject {
  Q_OBJECT
 public:
  struct Settings {
    RecordingConnection::Timeouts timeouts;
    // A database call still running this long after its time-out is given
    // up: the driver did not keep the time-out (psqlODBC keeps none for a
    // query), and the record is written again on a new connection.
    std::chrono::milliseconds callGrace{5000};
    std::chrono::milliseconds firstRetryWait{1000};
    std::chrono::milliseconds longestRetryWait{30000};
    // Recording has fallen behind when a record has waited this long.
    std::chrono::milliseconds fallBehindAfter{5000};
    std::chrono::milliseconds checkEvery{500};
  };

  CallRecordWriter(std::shared_ptr<CallRecordSpool> spool,
                   std::shared_ptr<CallRecordRejectFile> rejects, std::string connectionString,
                   Settings settings, QObject* parent = nullptr);
  ~CallRecordWriter() override;

  void Start();
  // Gives the writer up to budget to write what waits, then stops it. A
  // writer held inside a database call is left to end with the process;
  // the spool keeps its record. True when nothing was left waiting.
  bool Finish(std::chrono::milliseconds budget);

 signals:
  void RecordWritten(quint64 sequence);
  // activityLine: "DB 기록 실패: <caller> => <line>[<ext>]" (CP949); reason:
  // "<SQLSTATE> <message>" of the database.
  void RecordRejected(const QByteArray& activityLine, const QByteArray& reason);
  // A connect or write failed and will be tried again; "<SQLSTATE> <message>".
  void DatabaseUnavailable(const QByteArray& diagnostic);
  void BacklogChanged(qint64 waiting);
  void FellBehind(qint64 waiting);
  void CaughtUp();

 private:
  void Check();
  void StartThread();
  void GiveUpOnHungCall();

  std::shared_ptr<CallRecordSpool> m_spool;
  std::shared_ptr<CallRecordRejectFile> m_rejects;
  const std::string m_connectionString;
  const Settings m_settings;
  // Threads given up on that are still inside a database call.
  std::shared_ptr<std::atomic<int>> m_leftBehind;
  std::shared_ptr<WriterShared> m_shared;
  std::jthread m_thread;
  QTimer m_check;
  qint64 m_lastWaiting = 0;
  bool m_behind = false;
};

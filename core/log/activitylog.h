#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/callevent/calleventoutput.h"
#include "core/log/activitylistmodel.h"
#include "core/log/dailylogfile.h"
#include "core/log/journalbuffer.h"

// What the operator reads: the activity list, the latest ring's line, the
// daily log file with its hourly check, and, headless, the journal that
// mirrors the activity list.
class ActivityLog : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  ActivityLog(QString logDirectory, std::function<QDateTime()> clock, QObject* parent = nullptr);

  void InsertActivityLine(const QByteArray& text);  // at the top
  void AppendActivityLine(const QByteArray& text);  // where the sorting puts it
  void TrimActivityList();
  // At "no log" the journal leaves callers' numbers out too.
  void SetLogType(qint32 logType);
  // A line at the top of the list that is an error on the journal.
  void ReportError(const QByteArray& text);
  // The two lines of a notice that went to clients LDK505 clients: both
  // lines per client in the list, one line in the journal.
  void NoteLdkNotice(const QByteArray& ringLine, const QByteArray& noticeLine, int clients);

  void AppendLogLine(const QByteArray& text);
  void OpenLogFileAtStartup();
  void CheckLogFileDate();
  void StartLogRollover();
  bool IsLogRolloverActive() const { return m_timerLogRollover.isActive(); }
  // The log file closed and its check stopped.
  void Close();

  // Headless: every line that enters the list also goes to the journal.
  void MirrorToJournal();
  // Runs before journal lines go out.
  void SetBeforeJournalWrite(std::function<void()> beforeWrite);
  // Journal lines waiting in this pass go out now.
  void FlushJournal();

  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;

  // The summary line of the latest ring (CP949).
  const QByteArray& Recent() const { return m_strRecent; }
  void SetRecent(const QByteArray& recent) { m_strRecent = recent; }
  ActivityListModel& List() { return m_listLog; }
  const ActivityListModel& List() const { return m_listLog; }
  const DailyLogFile& LogFile() const { return m_logFile; }

 signals:
  void RecentCallChanged(const QByteArray& recent);

 private:
  // namesCaller: a line about a call, with the caller's number in it.
  void Journal(JournalPriority priority, const QByteArray& line, bool namesCaller);
  QByteArray ForJournal(const QByteArray& callLine) const;
  QDateTime Now() const { return m_clock(); }

  std::function<QDateTime()> m_clock;
  ActivityListModel m_listLog;
  DailyLogFile m_logFile;
  QTimer m_timerLogRollover;
  QByteArray m_strRecent;
  std::unique_ptr<JournalBuffer> m_journal;  // headless only
  std::function<void()> m_beforeJournalWrite;
  bool m_callersHidden = false;
};

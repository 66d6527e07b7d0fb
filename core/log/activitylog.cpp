#include "core/log/activitylog.h"

#include "core/config/settingtypes.h"
#include "core/db/callrecord.h"
#include "core/log/callernumbermask.h"
#include "core/log/logline.h"

#include <unistd.h>

namespace {

constexpr int kHourMs = 3600000;

}  // namespace

ActivityLog::ActivityLog(QString logDirectory, std::function<QDateTime()> clock, QObject* parent)
    : QObject(parent), m_clock(std::move(clock)), m_logFile(std::move(logDirectory)) {
  m_timerLogRollover.callOnTimeout(this, &ActivityLog::CheckLogFileDate);
}

void ActivityLog::InsertActivityLine(const QByteArray& text) {
  m_listLog.InsertActivityLine(text);
  Journal(JournalPriority::Info, text, IsRecordFailureLine(text));
}

void ActivityLog::AppendActivityLine(const QByteArray& text) {
  m_listLog.AppendActivityLine(text);
  Journal(JournalPriority::Info, text, false);
}

void ActivityLog::SetLogType(qint32 logType) { m_callersHidden = logType == kLogNone; }

void ActivityLog::TrimActivityList() { m_listLog.TrimActivityList(); }

void ActivityLog::ReportError(const QByteArray& text) {
  m_listLog.InsertActivityLine(text);
  Journal(JournalPriority::Error, text, IsRecordFailureLine(text));
}

void ActivityLog::NoteLdkNotice(const QByteArray& ringLine, const QByteArray& noticeLine,
                                int clients) {
  // The same two lines for every client: each set of copies goes in at once.
  m_listLog.AppendActivityLines(ringLine, clients);
  m_listLog.AppendActivityLines(noticeLine, clients);
  // Two lines per client and notice flooded the journal with hundreds of clients.
  if (m_journal && clients > 0) {
    m_journal->Add(JournalPriority::Info, JournalLine(ForJournal(ringLine)) + ' ' +
                                              JournalLine(ForJournal(noticeLine)) + " to " +
                                              QByteArray::number(clients) + " LDK505 clients");
  }
}

void ActivityLog::AppendLogLine(const QByteArray& text) { m_logFile.AppendLogLine(Now(), text); }

void ActivityLog::OpenLogFileAtStartup() { m_logFile.OpenAtStartup(Now().date()); }

void ActivityLog::CheckLogFileDate() { m_logFile.CheckLogFileDate(Now().date()); }

void ActivityLog::StartLogRollover() { m_timerLogRollover.start(kHourMs); }

void ActivityLog::Close() {
  m_timerLogRollover.stop();
  m_logFile.Close();
}

void ActivityLog::MirrorToJournal() {
  m_journal = std::make_unique<JournalBuffer>(STDERR_FILENO);
  m_journal->SetBeforeWrite(m_beforeJournalWrite);
}

void ActivityLog::SetBeforeJournalWrite(std::function<void()> beforeWrite) {
  m_beforeJournalWrite = std::move(beforeWrite);
  if (m_journal) m_journal->SetBeforeWrite(m_beforeJournalWrite);
}

void ActivityLog::FlushJournal() {
  if (m_journal) m_journal->Flush();
}

void ActivityLog::Deliver(const CallEvent&, const CallOutcome& outcome) {
  if (!outcome.summary.isEmpty()) {
    m_listLog.InsertActivityLine(outcome.summary);
    Journal(JournalPriority::Info, outcome.summary, true);
  }
  if (outcome.summaryIsRecent) {
    m_strRecent = outcome.summary;
    emit RecentCallChanged(m_strRecent);
  }
  if (outcome.logLine) AppendLogLine(*outcome.logLine);
}

void ActivityLog::Journal(JournalPriority priority, const QByteArray& line, bool namesCaller) {
  if (m_journal) m_journal->Add(priority, JournalLine(namesCaller ? ForJournal(line) : line));
}

// "No log" keeps callers' numbers out of the journal as out of the file.
QByteArray ActivityLog::ForJournal(const QByteArray& callLine) const {
  return m_callersHidden ? WithoutCallerNumber(callLine) : callLine;
}

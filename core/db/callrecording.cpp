#include "core/db/callrecording.h"

#include <QDir>

#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"
#include "core/db/callrecordwriter.h"
#include "core/text/cp949.h"

namespace {

const QString kRejectFileName = QStringLiteral("callrecords.rejected.txt");

QByteArray SpoolFailureReason(const QString& error) {
  return ToCp949(QStringLiteral("기록 대기열에 쓰지 못함: ") + error);
}

QByteArray AppendFailureReason(CallRecordSpool::AppendResult result, const QString& error) {
  switch (result) {
    case CallRecordSpool::AppendResult::Full:
      return ToCp949(QStringLiteral("기록 대기열이 가득 참"));
    case CallRecordSpool::AppendResult::TooLarge:
      return ToCp949(QStringLiteral("기록이 너무 큼"));
    case CallRecordSpool::AppendResult::Appended:
    case CallRecordSpool::AppendResult::Failed:
      break;
  }
  return SpoolFailureReason(error);
}

}  // namespace

QByteArray RecordingBehindLine(qint64 waiting) {
  return ToCp949(QStringLiteral("DB 기록 지연: 기록 대기 %1건").arg(waiting));
}

QByteArray RecordingCaughtUpLine() {
  return ToCp949(QStringLiteral("DB 기록 정상: 대기 기록을 모두 기록했습니다."));
}

QByteArray RecordingHeldLine(const QByteArray& diagnostic) {
  return ToCp949(QStringLiteral("DB 기록 오류: ")) + diagnostic +
         ToCp949(QStringLiteral(" (기록은 대기열에서 기다립니다)"));
}

QByteArray RecordingRefusedLine(const QByteArray& diagnostic) {
  return ToCp949(QStringLiteral("DB 기록 거부: ")) + diagnostic +
         ToCp949(QStringLiteral(" (기록은 거부 파일로 갑니다)"));
}

QByteArray RecordingResumedLine() {
  return ToCp949(QStringLiteral("DB 기록 정상: 데이터베이스에 다시 기록합니다."));
}

CallRecording::CallRecording(QString stateDirectory, std::string connectionString, QObject* parent)
    : QObject(parent),
      m_spool(std::make_shared<CallRecordSpool>(stateDirectory)),
      m_rejects(
          std::make_shared<CallRecordRejectFile>(QDir(stateDirectory).filePath(kRejectFileName))) {
  m_writer = std::make_unique<CallRecordWriter>(m_spool, m_rejects, std::move(connectionString),
                                                CallRecordWriter::Settings{});
  connect(m_writer.get(), &CallRecordWriter::RecordRejected, this,
          [this](const QByteArray& line, const QByteArray& reason) {
            emit ActivityLine(line);
            ReportFailure(reason, RecordingRefusedLine);
          });
  connect(m_writer.get(), &CallRecordWriter::DatabaseUnavailable, this,
          [this](const QByteArray& diagnostic) {
            m_recordsHeld = true;
            ReportFailure(diagnostic, RecordingHeldLine);
          });
  connect(m_writer.get(), &CallRecordWriter::RecordWritten, this, &CallRecording::RecordWritten);
  connect(m_writer.get(), &CallRecordWriter::BacklogChanged, this,
          &CallRecording::RecordsWaitingChanged);
  connect(m_writer.get(), &CallRecordWriter::FellBehind, this,
          [this](qint64 waiting) { emit ActivityLine(RecordingBehindLine(waiting)); });
  connect(m_writer.get(), &CallRecordWriter::CaughtUp, this,
          [this] { emit ActivityLine(RecordingCaughtUpLine()); });
}

// What the last pass appended is not left unsynced.
CallRecording::~CallRecording() { SyncAppended(); }

bool CallRecording::Open(QString* problem) {
  if (!m_spool->Open()) {
    *problem = m_spool->ErrorString();
    return false;
  }
  // Bytes the last run left torn or damaged are kept for the operator.
  for (const QByteArray& bytes : m_spool->TakeUnreadable()) m_rejects->AppendUnreadable(bytes);
  return true;
}

void CallRecording::Start() { m_writer->Start(); }

bool CallRecording::Record(const CallRecord& record) {
  const CallRecordSpool::AppendResult result = m_spool->Append(record);
  if (result == CallRecordSpool::AppendResult::Appended) {
    m_unsynced.append(record);
    // Runs once the events of this pass are handled: one sync for all of
    // its records.
    if (!std::exchange(m_syncPosted, true)) {
      QMetaObject::invokeMethod(this, &CallRecording::SyncAppended, Qt::QueuedConnection);
    }
    return true;
  }
  m_rejects->AppendRecord(record, AppendFailureReason(result, m_spool->ErrorString()));
  return false;
}

void CallRecording::SyncAppended() {
  m_syncPosted = false;
  if (m_spool->Sync() == 0) {
    m_unsynced.clear();
    m_syncFailureTold = false;
    return;
  }
  // The spool has cut them off: they go where a record the spool refused goes.
  const QByteArray reason = SpoolFailureReason(m_spool->ErrorString());
  for (const CallRecord& record : std::exchange(m_unsynced, {})) {
    m_rejects->AppendRecord(record, reason);
    emit ActivityLine(RecordFailureLine(record));
  }
  if (!std::exchange(m_syncFailureTold, true)) emit ErrorLine(reason);
}

void CallRecording::ReportFailure(const QByteArray& diagnostic,
                                  QByteArray (*line)(const QByteArray&)) {
  const QByteArray kind = diagnostic.left(diagnostic.indexOf(' '));
  if (m_failuresTold.contains(kind)) return;
  m_failuresTold.insert(kind);
  emit ErrorLine(line(diagnostic));
}

void CallRecording::RecordWritten() {
  m_failuresTold.clear();
  if (std::exchange(m_recordsHeld, false)) emit ActivityLine(RecordingResumedLine());
}

qint64 CallRecording::Waiting() const { return m_spool->Waiting(); }

void CallRecording::Finish(std::chrono::milliseconds budget) {
  SyncAppended();
  m_writer->Finish(budget);
}

CallRecording::Requeued CallRecording::RequeueRejected() {
  Requeued requeued;
  const std::optional<QList<QByteArray>> lines = m_rejects->ReadLines();
  if (!lines) {
    requeued.problem = QStringLiteral("cannot read ") + m_rejects->Path();
    return requeued;
  }
  QList<QByteArray> kept;
  for (const QByteArray& line : *lines) {
    const std::optional<CallRecord> record = CallRecordRejectFile::RecordOf(line);
    if (record && m_spool->Append(*record) == CallRecordSpool::AppendResult::Appended) {
      ++requeued.records;
    } else {
      kept.append(line);
    }
  }
  requeued.kept = kept.size();
  if (requeued.records == 0) return requeued;
  // Only once the records are safe in the spool do their lines go.
  if (m_spool->Sync() != 0) {
    requeued.problem = m_spool->ErrorString();
    requeued.records = 0;
  } else if (!m_rejects->ReplaceLines(kept)) {
    requeued.problem = QStringLiteral(
                           "the records are back in the spool, but their lines could "
                           "not be taken out of ") +
                       m_rejects->Path();
  }
  return requeued;
}

QString CallRecording::RejectFilePath() const { return m_rejects->Path(); }

#include "core/db/callrecording.h"

#include <QDir>

#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"
#include "core/db/callrecordwriter.h"
#include "core/text/cp949.h"

namespace {

const QString kRejectFileName = QStringLiteral("callrecords.rejected.txt");

constexpr int kDiskRetryMs = 1000;

QByteArray AppendFailureReason(CallRecordSpool::AppendResult result, const QString& error) {
  switch (result) {
    case CallRecordSpool::AppendResult::Full:
      return ToCp949(QStringLiteral("기록 대기열이 가득 참"));
    case CallRecordSpool::AppendResult::TooLarge:
      return ToCp949(QStringLiteral("기록이 너무 큼"));
    case CallRecordSpool::AppendResult::Appended:
    case CallRecordSpool::AppendResult::Held:
    case CallRecordSpool::AppendResult::Failed:
      break;
  }
  return ToCp949(QStringLiteral("기록 대기열에 쓰지 못함: ") + error);
}

QByteArray SpoolFileChangedLine(CallRecordSpool::FileChange change, const QString& path,
                                qint64 waiting) {
  QString what;
  switch (change) {
    case CallRecordSpool::FileChange::Removed:
      what = QStringLiteral("지워졌습니다");
      break;
    case CallRecordSpool::FileChange::Replaced:
      what = QStringLiteral("다른 파일로 바뀌었습니다");
      break;
    case CallRecordSpool::FileChange::Shortened:
    case CallRecordSpool::FileChange::None:
      what = QStringLiteral("잘렸습니다");
      break;
  }
  return ToCp949(
      QStringLiteral("DB 기록 대기열 파일이 %1: %2 (기다리는 기록 %3건으로 다시 만듭니다)")
          .arg(what, path)
          .arg(waiting));
}

QByteArray SpoolDiskErrorLine(const QString& error) {
  return ToCp949(
      QStringLiteral("DB 기록 대기열 디스크 오류: %1 (기록은 메모리에서 기다립니다)").arg(error));
}

QByteArray SpoolRecoveredLine() {
  return ToCp949(QStringLiteral("DB 기록 대기열 정상: 메모리의 기록을 디스크에 다시 썼습니다."));
}

QByteArray RejectDiskErrorLine(const QString& error) {
  return ToCp949(
      QStringLiteral("DB 기록 거부 파일 디스크 오류: %1 (거부된 기록은 메모리에서 기다립니다)")
          .arg(error));
}

QByteArray RejectRecoveredLine() {
  return ToCp949(QStringLiteral("DB 기록 거부 파일 정상: 메모리의 기록을 거부 파일에 썼습니다."));
}

QByteArray LostAtExitLine(qint64 held) {
  return ToCp949(
      QStringLiteral("DB 기록 대기열 디스크 오류: 메모리의 기록 %1건을 쓰지 못하고 끝납니다")
          .arg(held));
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
            emit Rejected();
            emit ActivityLine(line);
            ReportFailure(reason, RecordingRefusedLine);
            ReportDisk();
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
  m_diskRetry.setInterval(kDiskRetryMs);
  connect(&m_diskRetry, &QTimer::timeout, this, &CallRecording::RetryDisk);
}

// What the last passes appended is on disk before the program goes on.
CallRecording::~CallRecording() { m_spool->Sync(); }

bool CallRecording::Open(QString* problem) {
  if (!m_spool->Open()) {
    *problem = m_spool->ErrorString();
    return false;
  }
  // Bytes the last run left torn or damaged are kept for the operator.
  for (const QByteArray& bytes : m_spool->TakeUnreadable()) m_rejects->AppendUnreadable(bytes);
  return true;
}

bool CallRecording::HeldElsewhere() const { return m_spool->HeldElsewhere(); }

void CallRecording::Start() { m_writer->Start(); }

bool CallRecording::Record(const CallRecord& record) {
  const CallRecordSpool::AppendResult result = m_spool->Append(record);
  const bool waits = result == CallRecordSpool::AppendResult::Appended ||
                     result == CallRecordSpool::AppendResult::Held;
  if (waits) {
    // Runs once the events of this pass are handled: one sync for all of
    // its records.
    if (!std::exchange(m_syncPosted, true)) {
      QMetaObject::invokeMethod(this, &CallRecording::SyncAppended, Qt::QueuedConnection);
    }
  } else {
    m_rejects->AppendRecord(record, AppendFailureReason(result, m_spool->ErrorString()));
    ReportDisk();
  }
  // A record that waits has its disk state told by the pass's sync.
  return waits;
}

void CallRecording::SyncAppended() {
  m_syncPosted = false;
  m_spool->SyncInBackground([this] {
    QMetaObject::invokeMethod(this, &CallRecording::ReportDisk, Qt::QueuedConnection);
  });
  ReportDisk();
}

void CallRecording::RetryDisk() {
  m_spool->Sync(true);
  m_rejects->Retry();
  ReportDisk();
}

void CallRecording::TellDiskState(const QString& error, bool* told,
                                  QByteArray (*errorLine)(const QString&),
                                  QByteArray (*recoveredLine)()) {
  if (!error.isEmpty() && !*told) {
    *told = true;
    emit ErrorLine(errorLine(error));
  } else if (error.isEmpty() && *told) {
    *told = false;
    emit ActivityLine(recoveredLine());
  }
}

void CallRecording::ReportDisk() {
  const CallRecordSpool::FileChange change = m_spool->TakeFileChange();
  if (change != CallRecordSpool::FileChange::None) {
    emit ErrorLine(SpoolFileChangedLine(change, m_spool->SpoolPath(), m_spool->Waiting()));
  }
  TellDiskState(m_spool->DiskError(), &m_spoolDiskErrorTold, SpoolDiskErrorLine,
                SpoolRecoveredLine);
  TellDiskState(m_rejects->DiskError(), &m_rejectDiskErrorTold, RejectDiskErrorLine,
                RejectRecoveredLine);
  if (!m_spoolDiskErrorTold && !m_rejectDiskErrorTold) {
    m_diskRetry.stop();
  } else if (!m_diskRetry.isActive()) {
    m_diskRetry.start();
  }
}

void CallRecording::ReportFailure(const QByteArray& diagnostic,
                                  QByteArray (*line)(const QByteArray&)) {
  const QByteArray kind = diagnostic.left(diagnostic.indexOf(' '));
  if (m_failuresTold.contains(kind)) return;
  m_failuresTold.insert(kind);
  emit ErrorLine(line(diagnostic));
}

void CallRecording::RecordWritten() {
  emit Written();
  m_failuresTold.clear();
  if (std::exchange(m_recordsHeld, false)) emit ActivityLine(RecordingResumedLine());
}

qint64 CallRecording::Waiting() const { return m_spool->Waiting(); }

qint64 CallRecording::HeldInMemory() const {
  return m_spool->HeldInMemory() + m_rejects->HeldLines();
}

void CallRecording::Finish(std::chrono::milliseconds budget) {
  m_spool->Sync();
  ReportDisk();
  m_writer->Finish(budget);
  m_diskRetry.stop();
  // A last try for what only memory holds.
  m_spool->Sync(true);
  m_rejects->Retry();
  if (const qint64 held = HeldInMemory(); held > 0) emit ErrorLine(LostAtExitLine(held));
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
    const CallRecordSpool::AppendResult result =
        record ? m_spool->Append(*record) : CallRecordSpool::AppendResult::Failed;
    if (result == CallRecordSpool::AppendResult::Appended ||
        result == CallRecordSpool::AppendResult::Held) {
      ++requeued.records;
    } else {
      kept.append(line);
    }
  }
  requeued.kept = kept.size();
  if (requeued.records == 0) return requeued;
  // Only once the records are safe in the spool do their lines go.
  if (m_spool->Sync(true) != 0) {
    requeued.problem = m_spool->DiskError();
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

#include "core/db/callrecording.h"

#include <QDir>

#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"
#include "core/db/callrecordwriter.h"
#include "core/text/cp949.h"

namespace {

const QString kRejectFileName = QStringLiteral("callrecords.rejected.txt");

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
  return ToCp949(QStringLiteral("기록 대기열에 쓰지 못함: ") + error);
}

}  // namespace

QByteArray RecordingBehindLine(qint64 waiting) {
  return ToCp949(QStringLiteral("DB 기록 지연: 기록 대기 %1건").arg(waiting));
}

QByteArray RecordingCaughtUpLine() {
  return ToCp949(QStringLiteral("DB 기록 정상: 대기 기록을 모두 기록했습니다."));
}

CallRecording::CallRecording(QString stateDirectory, std::string connectionString, QObject* parent)
    : QObject(parent),
      m_spool(std::make_shared<CallRecordSpool>(stateDirectory)),
      m_rejects(
          std::make_shared<CallRecordRejectFile>(QDir(stateDirectory).filePath(kRejectFileName))) {
  m_writer = std::make_unique<CallRecordWriter>(m_spool, m_rejects, std::move(connectionString),
                                                CallRecordWriter::Settings{});
  connect(m_writer.get(), &CallRecordWriter::RecordRejected, this, &CallRecording::ActivityLine);
  connect(m_writer.get(), &CallRecordWriter::BacklogChanged, this,
          &CallRecording::RecordsWaitingChanged);
  connect(m_writer.get(), &CallRecordWriter::FellBehind, this,
          [this](qint64 waiting) { emit ActivityLine(RecordingBehindLine(waiting)); });
  connect(m_writer.get(), &CallRecordWriter::CaughtUp, this,
          [this] { emit ActivityLine(RecordingCaughtUpLine()); });
}

CallRecording::~CallRecording() = default;

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
  if (result == CallRecordSpool::AppendResult::Appended) return true;
  m_rejects->AppendRecord(record, AppendFailureReason(result, m_spool->ErrorString()));
  return false;
}

qint64 CallRecording::Waiting() const { return m_spool->Waiting(); }

void CallRecording::Finish(std::chrono::milliseconds budget) { m_writer->Finish(budget); }

QString CallRecording::RejectFilePath() const { return m_rejects->Path(); }

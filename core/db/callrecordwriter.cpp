#include "core/db/callrecordwriter.h"

#include <condition_variable>
#include <mutex>

#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"
#include "db/calldatabase.h"

// What the writer thread shares with its owner. The thread holds it too, so
// a thread left behind by Finish still finds everything it touches alive.
struct WriterShared {
  std::shared_ptr<CallRecordSpool> spool;
  std::shared_ptr<CallRecordRejectFile> rejects;
  std::string connectionString;
  CallRecordWriter::Settings settings;

  std::mutex reportMutex;
  CallRecordWriter* owner = nullptr;  // null once the owner has let go

  std::mutex stateMutex;
  std::condition_variable_any wake;
  bool finished = false;

  // Runs f on the owner's thread, unless the owner is gone by then.
  template <typename F>
  void Report(F f) {
    std::lock_guard lock(reportMutex);
    if (owner)
      QMetaObject::invokeMethod(
          owner, [o = owner, f] { f(o); }, Qt::QueuedConnection);
  }
  // False when stop was requested meanwhile.
  bool Pause(std::stop_token stop, std::chrono::milliseconds wait) {
    std::unique_lock lock(stateMutex);
    wake.wait_for(lock, stop, wait, [] { return false; });
    return !stop.stop_requested();
  }
};

namespace {

// An idle writer ends at once when asked; this is only for it to get there.
constexpr std::chrono::milliseconds kStopGrace(200);

void Reject(WriterShared& shared, const CallRecord& record, const QByteArray& reason) {
  shared.rejects->AppendRecord(record, reason);
  shared.Report(
      [line = RecordFailureLine(record)](CallRecordWriter* w) { emit w->RecordRejected(line); });
}

void RunWriter(std::stop_token stop, std::shared_ptr<WriterShared> shared) {
  const CallRecordWriter::Settings& settings = shared->settings;
  RecordingConnection connection(shared->connectionString, settings.timeouts);
  std::chrono::milliseconds retryWait = settings.firstRetryWait;
  const auto waitBeforeRetry = [&] {
    const bool goOn = shared->Pause(stop, retryWait);
    retryWait = std::min(retryWait * 2, settings.longestRetryWait);
    return goOn;
  };
  while (std::optional<CallRecordSpool::WaitingRecord> next = shared->spool->WaitForFirst(stop)) {
    if (!next->record) {
      shared->rejects->AppendUnreadable(next->bytes);
      shared->spool->Acknowledge(next->sequence);
      continue;
    }
    QByteArray diagnostic;
    if (!connection.IsOpen() && !connection.Open(&diagnostic)) {
      if (!waitBeforeRetry()) break;
      continue;
    }
    const CallRecord& record = *next->record;
    const RecordingConnection::Result result = connection.Write(
        BuildCallText(record.centerId, record.caller, record.inboundTail, record.accountExt));
    if (result.outcome == WriteOutcome::ConnectionFailed) {
      connection.Close();
      if (!waitBeforeRetry()) break;
      continue;
    }
    retryWait = settings.firstRetryWait;
    if (result.outcome == WriteOutcome::Refused) {
      Reject(*shared, record, result.diagnostic);
      shared->spool->Acknowledge(next->sequence);
      continue;
    }
    shared->spool->Acknowledge(next->sequence);
    shared->Report(
        [sequence = next->sequence](CallRecordWriter* w) { emit w->RecordWritten(sequence); });
  }
  std::lock_guard lock(shared->stateMutex);
  shared->finished = true;
  shared->wake.notify_all();
}

}  // namespace

CallRecordWriter::CallRecordWriter(std::shared_ptr<CallRecordSpool> spool,
                                   std::shared_ptr<CallRecordRejectFile> rejects,
                                   std::string connectionString, Settings settings, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<WriterShared>()) {
  m_shared->spool = std::move(spool);
  m_shared->rejects = std::move(rejects);
  m_shared->connectionString = std::move(connectionString);
  m_shared->settings = settings;
  m_shared->owner = this;
  m_check.setInterval(settings.checkEvery);
  connect(&m_check, &QTimer::timeout, this, &CallRecordWriter::Check);
  connect(this, &CallRecordWriter::RecordWritten, this, &CallRecordWriter::Check);
  connect(this, &CallRecordWriter::RecordRejected, this, &CallRecordWriter::Check);
}

CallRecordWriter::~CallRecordWriter() { Finish(std::chrono::milliseconds(0)); }

void CallRecordWriter::Start() {
  if (m_thread.joinable()) return;
  m_thread = std::jthread(RunWriter, m_shared);
  m_check.start();
}

bool CallRecordWriter::Finish(std::chrono::milliseconds budget) {
  m_check.stop();
  const auto deadline = std::chrono::steady_clock::now() + budget;
  if (m_thread.joinable()) {
    std::unique_lock lock(m_shared->stateMutex);
    // The writer wakes this only when it ends; the waiting count is polled.
    while (m_shared->spool->Waiting() > 0 && !m_shared->finished &&
           std::chrono::steady_clock::now() < deadline) {
      m_shared->wake.wait_for(lock, std::chrono::milliseconds(10));
    }
    m_thread.request_stop();
    m_shared->wake.wait_until(lock,
                              std::max(deadline, std::chrono::steady_clock::now() + kStopGrace),
                              [this] { return m_shared->finished; });
    const bool finished = m_shared->finished;
    lock.unlock();
    if (finished) {
      m_thread.join();
    } else {
      m_thread.detach();
    }
  }
  std::lock_guard lock(m_shared->reportMutex);
  m_shared->owner = nullptr;
  return m_shared->spool->Waiting() == 0;
}

void CallRecordWriter::Check() {
  const qint64 waiting = m_shared->spool->Waiting();
  if (waiting != m_lastWaiting) {
    m_lastWaiting = waiting;
    emit BacklogChanged(waiting);
  }
  const std::optional<CallRecordSpool::Clock::time_point> oldest =
      m_shared->spool->OldestWaitingSince();
  if (!m_behind && oldest &&
      CallRecordSpool::Clock::now() - *oldest >= m_shared->settings.fallBehindAfter) {
    m_behind = true;
    emit FellBehind(waiting);
  } else if (m_behind && waiting == 0) {
    m_behind = false;
    emit CaughtUp();
  }
}

#include "core/db/callrecordwriter.h"

#include <condition_variable>
#include <mutex>

#include "core/db/calldatabase.h"
#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"

using SteadyClock = std::chrono::steady_clock;

// What one writer thread shares with its owner. The thread holds it too, so
// a thread that was left behind still finds everything it touches alive.
struct WriterShared {
  std::shared_ptr<CallRecordSpool> spool;
  std::shared_ptr<CallRecordRejectFile> rejects;
  std::string connectionString;
  CallRecordWriter::Settings settings;
  std::shared_ptr<std::atomic<int>> leftBehind;

  std::mutex reportMutex;
  CallRecordWriter* owner = nullptr;  // null once the owner has let go

  // When the database call under way should have returned; zero between calls.
  std::atomic<SteadyClock::rep> callDeadline{0};

  std::mutex stateMutex;
  std::condition_variable_any wake;
  bool finished = false;
  bool leftBehindCounted = false;

  // Runs f on the owner's thread, unless the owner is gone by then.
  template <typename F>
  void Report(F f) {
    std::lock_guard lock(reportMutex);
    if (owner) {
      QMetaObject::invokeMethod(
          owner, [o = owner, f] { f(o); }, Qt::QueuedConnection);
    }
  }
  // False when stop was requested meanwhile.
  bool Pause(std::stop_token stop, std::chrono::milliseconds wait) {
    std::unique_lock lock(stateMutex);
    wake.wait_for(lock, stop, wait, [] { return false; });
    return !stop.stop_requested();
  }
  template <typename F>
  auto Bounded(std::chrono::milliseconds limit, F call) {
    callDeadline = (SteadyClock::now() + limit + settings.callGrace).time_since_epoch().count();
    auto result = call();
    callDeadline = 0;
    return result;
  }
};

namespace {

// An idle writer ends at once when asked; this is only for it to get there.
constexpr std::chrono::milliseconds kStopGrace(200);
// Each thread given up on holds a connection until its call returns.
constexpr int kMostLeftBehind = 3;

void Reject(WriterShared& shared, const CallRecord& record, const QByteArray& reason) {
  shared.rejects->AppendRecord(record, reason);
  shared.Report([line = RecordFailureLine(record), reason](CallRecordWriter* w) {
    emit w->RecordRejected(line, reason);
  });
}

void RunWriter(std::stop_token stop, std::shared_ptr<WriterShared> shared) {
  const CallRecordWriter::Settings& settings = shared->settings;
  const std::chrono::seconds loginLimit(settings.timeouts.loginSeconds);
  // The call and its commit.
  const std::chrono::seconds writeLimit(2 * settings.timeouts.querySeconds);
  RecordingConnection connection(shared->connectionString, settings.timeouts);
  std::chrono::milliseconds retryWait = settings.firstRetryWait;
  const auto waitBeforeRetry = [&](const QByteArray& diagnostic) {
    shared->Report([diagnostic](CallRecordWriter* w) { emit w->DatabaseUnavailable(diagnostic); });
    const bool goOn = shared->Pause(stop, retryWait);
    retryWait = std::min(retryWait * 2, settings.longestRetryWait);
    return goOn;
  };
  while (std::optional<CallRecordSpool::WaitingRecord> next = shared->spool->WaitForFirst(stop)) {
    QByteArray diagnostic;
    if (!connection.IsOpen() &&
        !shared->Bounded(loginLimit, [&] { return connection.Open(&diagnostic); })) {
      if (!waitBeforeRetry(diagnostic)) break;
      continue;
    }
    const CallRecord& record = next->record;
    const std::string callText =
        BuildCallText(record.centerId, record.caller, record.inboundTail, record.accountExt);
    const RecordingConnection::Result result =
        shared->Bounded(writeLimit, [&] { return connection.Write(callText, stop); });
    if (result.outcome == WriteOutcome::ConnectionFailed ||
        result.outcome == WriteOutcome::Unavailable) {
      // The connection itself still works when the database only lacks
      // something every record needs.
      if (result.outcome == WriteOutcome::ConnectionFailed) connection.Close();
      if (!waitBeforeRetry(result.diagnostic)) break;
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
  if (shared->leftBehindCounted) --*shared->leftBehind;
  shared->wake.notify_all();
}

// Stops the thread and lets it go. It sends nothing more; if it is inside
// a database call, it ends when the call returns, without committing.
void LetGo(std::jthread& thread, WriterShared& shared) {
  thread.request_stop();
  {
    std::lock_guard lock(shared.reportMutex);
    shared.owner = nullptr;
  }
  thread.detach();
}

}  // namespace

CallRecordWriter::CallRecordWriter(std::shared_ptr<CallRecordSpool> spool,
                                   std::shared_ptr<CallRecordRejectFile> rejects,
                                   std::string connectionString, Settings settings, QObject* parent)
    : QObject(parent),
      m_spool(std::move(spool)),
      m_rejects(std::move(rejects)),
      m_connectionString(std::move(connectionString)),
      m_settings(settings),
      m_leftBehind(std::make_shared<std::atomic<int>>(0)) {
  m_check.setInterval(settings.checkEvery);
  connect(&m_check, &QTimer::timeout, this, &CallRecordWriter::Check);
  connect(this, &CallRecordWriter::RecordWritten, this, &CallRecordWriter::Check);
  connect(this, &CallRecordWriter::RecordRejected, this, &CallRecordWriter::Check);
}

CallRecordWriter::~CallRecordWriter() { Finish(std::chrono::milliseconds(0)); }

void CallRecordWriter::Start() {
  if (m_thread.joinable()) return;
  StartThread();
  m_check.start();
}

void CallRecordWriter::StartThread() {
  m_shared = std::make_shared<WriterShared>();
  m_shared->spool = m_spool;
  m_shared->rejects = m_rejects;
  m_shared->connectionString = m_connectionString;
  m_shared->settings = m_settings;
  m_shared->leftBehind = m_leftBehind;
  m_shared->owner = this;
  m_thread = std::jthread(RunWriter, m_shared);
}

bool CallRecordWriter::Finish(std::chrono::milliseconds budget) {
  m_check.stop();
  if (!m_thread.joinable()) return m_spool->Waiting() == 0;
  const auto deadline = SteadyClock::now() + budget;
  std::unique_lock lock(m_shared->stateMutex);
  // The writer wakes this only when it ends; the waiting count is polled.
  while (m_spool->Waiting() > 0 && !m_shared->finished && SteadyClock::now() < deadline) {
    m_shared->wake.wait_for(lock, std::chrono::milliseconds(10));
  }
  m_thread.request_stop();
  m_shared->wake.wait_until(lock, std::max(deadline, SteadyClock::now() + kStopGrace),
                            [this] { return m_shared->finished; });
  const bool finished = m_shared->finished;
  lock.unlock();
  if (finished) {
    m_thread.join();
  } else {
    LetGo(m_thread, *m_shared);
  }
  return m_spool->Waiting() == 0;
}

void CallRecordWriter::GiveUpOnHungCall() {
  {
    std::lock_guard lock(m_shared->stateMutex);
    if (m_shared->finished || *m_leftBehind >= kMostLeftBehind) return;
    m_shared->leftBehindCounted = true;
    ++*m_leftBehind;
  }
  LetGo(m_thread, *m_shared);
  emit DatabaseUnavailable(QByteArrayLiteral("HYT00 no answer from the database in time"));
  StartThread();
}

void CallRecordWriter::Check() {
  const SteadyClock::rep callDeadline = m_shared->callDeadline;
  if (callDeadline != 0 && SteadyClock::now().time_since_epoch().count() > callDeadline) {
    GiveUpOnHungCall();
  }
  const qint64 waiting = m_spool->Waiting();
  if (waiting != m_lastWaiting) {
    m_lastWaiting = waiting;
    emit BacklogChanged(waiting);
  }
  const std::optional<CallRecordSpool::Clock::time_point> oldest = m_spool->OldestWaitingSince();
  if (!m_behind && oldest &&
      CallRecordSpool::Clock::now() - *oldest >= m_settings.fallBehindAfter) {
    m_behind = true;
    emit FellBehind(waiting);
  } else if (m_behind && waiting == 0) {
    m_behind = false;
    emit CaughtUp();
  }
}

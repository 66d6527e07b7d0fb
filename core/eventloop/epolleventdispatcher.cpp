#include "core/eventloop/epolleventdispatcher.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxEventsPerRound = 256;

}  // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent),
      m_epoll(::epoll_create1(EPOLL_CLOEXEC)),
      m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  m_clock.start();
  if (!IsValid()) return;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = m_wakeFd;
  if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wakeFd, &event) != 0) {
    ::close(m_wakeFd);
    m_wakeFd = -1;
  }
}

EpollEventDispatcher::~EpollEventDispatcher() {
  if (m_wakeFd >= 0) ::close(m_wakeFd);
  if (m_epoll >= 0) ::close(m_epoll);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
  m_interrupted.store(false);
  emit awake();
  QCoreApplication::sendPostedEvents();

  // An event posted from here on writes to the wake descriptor, so the
  // wait below cannot sleep through it.
  const bool mayWait = (flags & QEventLoop::WaitForMoreEvents) && !m_interrupted.load();
  const int timeoutMs = mayWait ? WaitTimeoutMs() : 0;
  if (timeoutMs != 0) emit aboutToBlock();
  bool handled = false;
  if (flags & QEventLoop::ExcludeSocketNotifiers) {
    // Ready sockets would end every wait at once: wait for a wake-up only.
    pollfd wake{m_wakeFd, POLLIN, 0};
    if (::poll(&wake, 1, timeoutMs) > 0) {
      quint64 count = 0;
      (void)!::read(m_wakeFd, &count, sizeof count);
    }
  } else {
    epoll_event events[kMaxEventsPerRound];
    // A signal ends the wait early (EINTR); its notifier is ready next round.
    const int ready = std::max(0, ::epoll_wait(m_epoll, events, kMaxEventsPerRound, timeoutMs));
    for (int n = 0; n < ready; ++n) {
      if (events[n].data.fd == m_wakeFd) {
        quint64 count = 0;
        (void)!::read(m_wakeFd, &count, sizeof count);
      } else {
        handled |= ActivateNotifiers(events[n].data.fd, events[n].events);
      }
    }
  }
  if (!(flags & QEventLoop::X11ExcludeTimers)) handled |= ActivateDueTimers();
  return handled;
}

QSocketNotifier*& EpollEventDispatcher::Slot(Watch& watch, int type) {
  switch (type) {
    case QSocketNotifier::Read:
      return watch.read;
    case QSocketNotifier::Write:
      return watch.write;
    default:
      return watch.exception;
  }
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
  const int fd = int(notifier->socket());
  Slot(m_watches[fd], notifier->type()) = notifier;
  UpdateEpoll(fd);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
  const int fd = int(notifier->socket());
  const auto watch = m_watches.find(fd);
  if (watch == m_watches.end()) return;
  QSocketNotifier*& slot = Slot(*watch, notifier->type());
  // A notifier of a closed descriptor may go after one of its successor came.
  if (slot != notifier) return;
  slot = nullptr;
  UpdateEpoll(fd);
}

void EpollEventDispatcher::UpdateEpoll(int fd) {
  const auto watch = m_watches.find(fd);
  if (watch == m_watches.end()) return;
  quint32 wanted = 0;
  if (watch->read) wanted |= EPOLLIN;
  if (watch->write) wanted |= EPOLLOUT;
  if (watch->exception) wanted |= EPOLLPRI;
  if (wanted == 0) {
    // Fails harmlessly when the descriptor is closed already: it left epoll then.
    if (watch->inEpoll) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_watches.erase(watch);
    return;
  }
  epoll_event event{};
  event.events = wanted;
  event.data.fd = fd;
  // A descriptor closed while watched leaves epoll by itself, and its number
  // may come back for a new connection: then it is added again.
  if (watch->inEpoll && ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) == 0) return;
  watch->inEpoll = ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0 ||
                   (errno == EEXIST && ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) == 0);
  if (!watch->inEpoll) {
    qWarning("Descriptor %d cannot be watched: %s", fd, std::strerror(errno));
  }
}

bool EpollEventDispatcher::ActivateNotifiers(int fd, quint32 events) {
  // As with poll: an error or hang-up wakes readers and writers, who find it out.
  const bool failed = events & (EPOLLERR | EPOLLHUP);
  const std::pair<int, bool> kinds[] = {{QSocketNotifier::Read, (events & EPOLLIN) || failed},
                                        {QSocketNotifier::Write, (events & EPOLLOUT) || failed},
                                        {QSocketNotifier::Exception, (events & EPOLLPRI) != 0}};
  bool handled = false;
  for (const auto& [type, ready] : kinds) {
    if (!ready) continue;
    // The notifier activated before may have removed or replaced this one.
    const auto watch = m_watches.find(fd);
    if (watch == m_watches.end()) break;
    QSocketNotifier* notifier = Slot(*watch, type);
    if (!notifier) continue;
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
    handled = true;
  }
  return handled;
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject* object) {
  m_timers[timerId] = Timer{object, interval, timerType, m_clock.elapsed() + interval};
}

bool EpollEventDispatcher::unregisterTimer(int timerId) { return m_timers.erase(timerId) > 0; }

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
  const auto removed = std::erase_if(
      m_timers, [object](const auto& entry) { return entry.second.object == object; });
  return removed > 0;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(
    QObject* object) const {
  QList<TimerInfo> timers;
  for (const auto& [id, timer] : m_timers) {
    if (timer.object == object) timers.append(TimerInfo(id, int(timer.intervalMs), timer.type));
  }
  return timers;
}

int EpollEventDispatcher::remainingTime(int timerId) {
  const auto timer = m_timers.find(timerId);
  if (timer == m_timers.end()) return -1;
  return int(std::max<qint64>(0, timer->second.dueMs - m_clock.elapsed()));
}

int EpollEventDispatcher::WaitTimeoutMs() const {
  if (m_timers.empty()) return -1;
  qint64 earliest = m_timers.begin()->second.dueMs;
  for (const auto& [id, timer] : m_timers) earliest = std::min(earliest, timer.dueMs);
  return int(std::clamp<qint64>(earliest - m_clock.elapsed(), 0, INT_MAX));
}

// Each due timer fires once per round, the earliest first; one that a
// handler stops or starts again meanwhile is left alone.
bool EpollEventDispatcher::ActivateDueTimers() {
  const qint64 now = m_clock.elapsed();
  std::vector<std::pair<qint64, int>> due;
  for (const auto& [id, timer] : m_timers) {
    if (timer.dueMs <= now) due.emplace_back(timer.dueMs, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [dueMs, id] : due) {
    const auto timer = m_timers.find(id);
    if (timer == m_timers.end() || timer->second.dueMs != dueMs) continue;
    Timer& firing = timer->second;
    // Behind by more than an interval: the missed ones are not made up.
    firing.dueMs += firing.intervalMs;
    if (firing.dueMs <= now && firing.intervalMs > 0) firing.dueMs = now + firing.intervalMs;
    QTimerEvent event(id);
    QCoreApplication::sendEvent(firing.object, &event);
  }
  return !due.empty();
}

void EpollEventDispatcher::wakeUp() {
  const quint64 one = 1;
  (void)!::write(m_wakeFd, &one, sizeof one);
}

void EpollEventDispatcher::interrupt() {
  m_interrupted.store(true);
  wakeUp();
}

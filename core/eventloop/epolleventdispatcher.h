#pragma once

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <atomic>
#include <map>

class QSocketNotifier;

// The headless relay's event loop: it waits on epoll, so that a round of the
// loop costs what is ready rather than what is open. Qt's own loops hand
// every descriptor to poll on every round; with a thousand clients that was
// a quarter of the relay's time while it relayed a ring to all of them.
//
// Timers are kept to the millisecond whatever their type asks for; posted
// events, socket notifiers, wake-ups from other threads and interruptions
// behave as in Qt's loops.
class EpollEventDispatcher : public QAbstractEventDispatcher {
  Q_OBJECT
 public:
  explicit EpollEventDispatcher(QObject* parent = nullptr);
  ~EpollEventDispatcher() override;

  // False when the system gave no epoll or eventfd descriptor.
  bool IsValid() const { return m_epoll >= 0 && m_wakeFd >= 0; }

  bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
  void registerSocketNotifier(QSocketNotifier* notifier) override;
  void unregisterSocketNotifier(QSocketNotifier* notifier) override;
  void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                     QObject* object) override;
  bool unregisterTimer(int timerId) override;
  bool unregisterTimers(QObject* object) override;
  QList<TimerInfo> registeredTimers(QObject* object) const override;
  int remainingTime(int timerId) override;
  void wakeUp() override;
  void interrupt() override;

 private:
  // The notifiers of one descriptor, one per kind at most.
  struct Watch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    QSocketNotifier* exception = nullptr;
    bool inEpoll = false;
  };
  struct Timer {
    QObject* object = nullptr;
    qint64 intervalMs = 0;
    Qt::TimerType type = Qt::CoarseTimer;
    qint64 dueMs = 0;  // on m_clock
  };

  QSocketNotifier*& Slot(Watch& watch, int type);
  void UpdateEpoll(int fd);
  int WaitTimeoutMs() const;
  bool ActivateNotifiers(int fd, quint32 events);
  bool ActivateDueTimers();

  int m_epoll = -1;
  int m_wakeFd = -1;
  std::atomic<bool> m_interrupted{false};
  QHash<int, Watch> m_watches;
  std::map<int, Timer> m_timers;
  QElapsedTimer m_clock;
};

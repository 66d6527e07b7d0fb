// The headless relay's epoll event loop, driven as Qt drives it: timers,
// socket notifiers that come and go while others fire, descriptors closed
// under a watch and their numbers given out again, wake-ups and quits from
// other threads, and a real TCP connection. Each case runs on a thread of
// its own whose loop is the epoll one.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "core/eventloop/epolleventdispatcher.h"

namespace {

void OnEpollLoop(std::function<void()> body) {
  std::unique_ptr<QThread> thread(QThread::create(std::move(body)));
  auto* dispatcher = new EpollEventDispatcher;
  ASSERT_TRUE(dispatcher->IsValid());
  thread->setEventDispatcher(dispatcher);
  thread->start();
  ASSERT_TRUE(thread->wait(20000)) << "the loop did not end";
}

// Runs the thread's loop until condition holds; false after timeoutMs.
bool SpinUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!condition()) {
    if (elapsed.hasExpired(timeoutMs)) return false;
    QThread::currentThread()->eventDispatcher()->processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
  ~SocketPair() {
    for (int end : fd) {
      if (end >= 0) ::close(end);
    }
  }
};

TEST(EpollEventDispatcherTest, TimersFireInOrderOfDueTimeAndStopWhenStopped) {
  OnEpollLoop([] {
    QStringList fired;
    QTimer::singleShot(40, [&] { fired << "second"; });
    QTimer::singleShot(20, [&] { fired << "first"; });
    QTimer::singleShot(0, [&] { fired << "now"; });
    QTimer repeating;
    int repeats = 0;
    QObject::connect(&repeating, &QTimer::timeout, [&] {
      if (++repeats == 3) repeating.stop();
    });
    repeating.start(10);
    EXPECT_GT(repeating.remainingTime(), 0);
    EXPECT_LE(repeating.remainingTime(), 10);

    EXPECT_TRUE(SpinUntil([&] { return fired.contains("second") && !repeating.isActive(); }));
    // Even when a busy machine makes both due in the same round.
    EXPECT_EQ(fired, (QStringList{"now", "first", "second"}));
    EXPECT_EQ(repeats, 3);
    EXPECT_EQ(repeating.remainingTime(), -1);
  });
}

TEST(EpollEventDispatcherTest, NotifiersFireForWhatIsReadyOnly) {
  OnEpollLoop([] {
    SocketPair pair;
    QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
    QSocketNotifier writer(pair.fd[0], QSocketNotifier::Write);
    int reads = 0;
    int writes = 0;
    QObject::connect(&reader, &QSocketNotifier::activated, [&] {
      char byte = 0;
      while (::read(pair.fd[0], &byte, 1) == 1) ++reads;
    });
    QObject::connect(&writer, &QSocketNotifier::activated, [&] {
      ++writes;
      writer.setEnabled(false);
    });
    EXPECT_TRUE(SpinUntil([&] { return writes == 1; }));
    EXPECT_EQ(reads, 0);
    ASSERT_EQ(::write(pair.fd[1], "ab", 2), 2);
    EXPECT_TRUE(SpinUntil([&] { return reads == 2; }));
    EXPECT_EQ(writes, 1);  // disabled: not again, though still writable
  });
}

// A handler may end the other notifier of its descriptor, or close the
// descriptor, and the system may give its number to the next one.
TEST(EpollEventDispatcherTest, NotifiersRemovedOrDescriptorsReusedWhileWatched) {
  OnEpollLoop([] {
    auto first = std::make_unique<SocketPair>();
    auto reader = std::make_unique<QSocketNotifier>(first->fd[0], QSocketNotifier::Read);
    auto writer = std::make_unique<QSocketNotifier>(first->fd[0], QSocketNotifier::Write);
    bool readerFired = false;
    QObject::connect(reader.get(), &QSocketNotifier::activated, [&] {
      readerFired = true;
      writer.reset();
    });
    QObject::connect(writer.get(), &QSocketNotifier::activated, [&] { reader.reset(); });
    ASSERT_EQ(::write(first->fd[1], "x", 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return !reader || !writer; }));
    EXPECT_TRUE(readerFired || !reader);

    reader.reset();
    writer.reset();
    // Closed under a live notifier; a new descriptor takes the number.
    const int number = first->fd[0];
    auto stale = std::make_unique<QSocketNotifier>(number, QSocketNotifier::Read);
    ::close(number);
    first->fd[0] = -1;
    SocketPair second;
    ASSERT_EQ(second.fd[0], number);
    QSocketNotifier fresh(second.fd[0], QSocketNotifier::Read);
    stale.reset();  // the old notifier goes after its successor came
    bool freshFired = false;
    QObject::connect(&fresh, &QSocketNotifier::activated, [&] {
      char byte = 0;
      while (::read(second.fd[0], &byte, 1) == 1) freshFired = true;
    });
    ASSERT_EQ(::write(second.fd[1], "y", 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return freshFired; }));
  });
}

TEST(EpollEventDispatcherTest, OtherThreadsWakeTheLoopAndEndIt) {
  QEventLoop* running = nullptr;
  QObject* receiver = nullptr;
  std::atomic<bool> queuedRan{false};
  std::atomic<bool> ready{false};
  std::unique_ptr<QThread> thread(QThread::create([&] {
    QEventLoop loop;
    QObject target;
    running = &loop;
    receiver = &target;
    ready = true;
    // No timer and no socket: only a wake-up can end the wait.
    EXPECT_EQ(loop.exec(), 7);
    EXPECT_TRUE(queuedRan);
  }));
  thread->setEventDispatcher(new EpollEventDispatcher);
  thread->start();
  while (!ready) QThread::msleep(1);
  QThread::msleep(50);
  QMetaObject::invokeMethod(
      receiver, [&] { queuedRan = true; }, Qt::QueuedConnection);
  QThread::msleep(50);
  QMetaObject::invokeMethod(
      receiver, [&] { running->exit(7); }, Qt::QueuedConnection);
  ASSERT_TRUE(thread->wait(10000)) << "a wake-up from another thread was missed";
}

TEST(EpollEventDispatcherTest, ExcludedNotifiersNeitherFireNorSpin) {
  OnEpollLoop([] {
    SocketPair pair;
    QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
    int reads = 0;
    QObject::connect(&reader, &QSocketNotifier::activated, [&] { ++reads; });
    ASSERT_EQ(::write(pair.fd[1], "z", 1), 1);
    bool timedOut = false;
    QTimer::singleShot(30, [&] { timedOut = true; });
    int rounds = 0;
    auto* dispatcher = QThread::currentThread()->eventDispatcher();
    while (!timedOut) {
      dispatcher->processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeSocketNotifiers);
      ++rounds;
    }
    EXPECT_EQ(reads, 0);
    EXPECT_LT(rounds, 10);  // it waited for the timer, not in a busy loop
    EXPECT_TRUE(SpinUntil([&] { return reads > 0; }));
  });
}

TEST(EpollEventDispatcherTest, CarriesATcpConnection) {
  OnEpollLoop([] {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(SpinUntil([&] { return server.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    const QByteArray payload(1 << 20, 'p');  // more than one write can take
    client.write(payload);
    QByteArray received;
    EXPECT_TRUE(SpinUntil([&] {
      received += accepted->readAll();
      return received.size() == payload.size();
    }));
    client.disconnectFromHost();
    EXPECT_TRUE(SpinUntil([&] { return accepted->state() == QAbstractSocket::UnconnectedState; }));
  });
}

}  // namespace

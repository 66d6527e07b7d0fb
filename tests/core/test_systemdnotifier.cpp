#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <optional>

#include "core/config/systemdnotifier.h"
#include "support/notifysocket.h"
#include "support/qtprint.h"
#include "support/qtwait.h"

namespace {

// Sets (or, with nothing, removes) an environment variable for one scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<QByteArray>& value)
      : m_name(name),
        m_saved(qEnvironmentVariableIsSet(name) ? qgetenv(name) : std::optional<QByteArray>()) {
    Set(value);
  }
  ~ScopedVariable() { Set(m_saved); }

 private:
  void Set(const std::optional<QByteArray>& value) {
    if (value) {
      qputenv(m_name, *value);
    } else {
      qunsetenv(m_name);
    }
  }

  const char* m_name;
  std::optional<QByteArray> m_saved;
};

class SystemdNotifierTest : public testing::Test {
 protected:
  NotifySocket socket;
  ScopedVariable notifySocket{"NOTIFY_SOCKET", socket.Path().toLocal8Bit()};
  ScopedVariable watchdogUsec{"WATCHDOG_USEC", std::nullopt};
  ScopedVariable watchdogPid{"WATCHDOG_PID", std::nullopt};
};

TEST_F(SystemdNotifierTest, ReadyStatusAndStoppingReachTheSocket) {
  ASSERT_TRUE(socket.IsOpen());
  SystemdNotifier notifier;
  ASSERT_TRUE(notifier.IsActive());
  notifier.NotifyReady();
  notifier.SetStatus(QStringLiteral("accounts 1/3"));
  ASSERT_TRUE(socket.WaitFor("STATUS=accounts 1/3"));
  // Within the second: only the latest text goes, once the second is up.
  notifier.SetStatus(QStringLiteral("accounts 2/3"));
  notifier.SetStatus(QStringLiteral("accounts 3/3\nclients 1"));
  ASSERT_TRUE(socket.WaitFor("STATUS=accounts 3/3 clients 1"));
  // The same text again is not news.
  notifier.SetStatus(QStringLiteral("accounts 3/3\nclients 1"));
  notifier.NotifyStopping();
  ASSERT_TRUE(socket.WaitFor("STOPPING=1"));
  EXPECT_EQ(socket.Messages(), (QList<QByteArray>{"READY=1", "STATUS=accounts 1/3",
                                                  "STATUS=accounts 3/3 clients 1", "STOPPING=1"}));
}

TEST_F(SystemdNotifierTest, StatusBackToTheSentTextWithinTheSecondSendsNothing) {
  SystemdNotifier notifier;
  notifier.SetStatus(QStringLiteral("A"));
  notifier.SetStatus(QStringLiteral("B"));
  notifier.SetStatus(QStringLiteral("A"));
  notifier.SetStatus(QStringLiteral("C"));
  ASSERT_TRUE(socket.WaitFor("STATUS=C"));
  notifier.SetStatus(QStringLiteral("D"));
  notifier.SetStatus(QStringLiteral("C"));
  WaitUntil([] { return false; }, 1500);
  EXPECT_EQ(socket.Messages(), (QList<QByteArray>{"STATUS=A", "STATUS=C"}));
}

TEST_F(SystemdNotifierTest, WatchdogFollowsWhatSystemdAsks) {
  struct Case {
    const char* what;
    std::optional<QByteArray> usec, pid;
    int intervalMs;
  };
  const QByteArray ownPid = QByteArray::number(::getpid());
  const Case cases[] = {
      {"no watchdog", std::nullopt, std::nullopt, 0},
      {"watchdog for any process", "300000", std::nullopt, 150},
      {"watchdog for this process", "300000", ownPid, 150},
      {"watchdog for another process", "300000", QByteArray::number(::getpid() + 1), 0},
      {"no number", "soon", std::nullopt, 0},
      {"zero", "0", std::nullopt, 0},
      {"a tiny timeout still pings", "1", std::nullopt, 1},
  };
  for (const Case& c : cases) {
    ScopedVariable usec("WATCHDOG_USEC", c.usec);
    ScopedVariable pid("WATCHDOG_PID", c.pid);
    SystemdNotifier notifier;
    EXPECT_EQ(notifier.WatchdogIntervalMs(), c.intervalMs) << c.what;
    if (c.intervalMs > 0) {
      const qsizetype before = socket.MessagesStartingWith("WATCHDOG=1").size();
      EXPECT_TRUE(socket.WaitForCount("WATCHDOG=1", before + 2)) << c.what;
    }
  }
}

TEST(SystemdNotifierWithoutSystemdTest, DoesNothing) {
  NotifySocket socket;
  ScopedVariable notifySocket("NOTIFY_SOCKET", std::nullopt);
  ScopedVariable watchdogUsec("WATCHDOG_USEC", "1000");
  SystemdNotifier notifier;
  EXPECT_FALSE(notifier.IsActive());
  EXPECT_EQ(notifier.WatchdogIntervalMs(), 0);
  notifier.NotifyReady();
  notifier.SetStatus(QStringLiteral("anything"));
  notifier.NotifyStopping();
  WaitUntil([] { return false; }, 100);
  EXPECT_TRUE(socket.Messages().isEmpty());
}

}  // namespace

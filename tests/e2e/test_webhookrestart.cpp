// Events waiting for a failing webhook outlive the relay's kill, in order.
#include <gtest/gtest.h>

#include <QHttpServer>
#include <QJsonDocument>
#include <set>

#include "e2e/faulttest.h"
#include "support/notifysocket.h"

namespace {

using Status = QHttpServerResponder::StatusCode;

class WebhookRestartTest : public FaultTest {
 protected:
  WebhookRestartTest() {
    receiver.route("/hook", [this](const QHttpServerRequest& request) {
      if (accepting && ids.insert(request.value("X-Tarvex-Event-Id")).second)
        delivered << QJsonDocument::fromJson(request.body())["caller"].toString();
      return QHttpServerResponse(accepting ? Status::Ok : Status::ServiceUnavailable);
    });
    const quint16 port = receiver.listen(QHostAddress::LocalHost, AnyFreePort());
    extraSettings += QStringLiteral("WEBHOOK_CRM=http://127.0.0.1:%1/hook\n").arg(port).toUtf8();
    qputenv("TARVEX_WEBHOOK_SECRET_CRM", "secret");
    adjustRelay = [this](RelayProcess::Options& options) {
      options.environment[QStringLiteral("NOTIFY_SOCKET")] = status.Path();
    };
  }

  QHttpServer receiver;
  bool accepting = false;
  std::set<QByteArray> ids;
  QStringList delivered;  // callers, in the order accepted, repeats dropped by event id
  NotifySocket status;    // as systemd's
};

TEST_F(WebhookRestartTest, EventsWaitingForAFailingHookArriveAfterTheRelaysKill) {
  // The last one's activity line comes once the rings before it went into the hook's queue.
  for (int n = 1; n <= 6; ++n) fixture->Ring(n);
  ASSERT_TRUE(fixture->relay->WaitForOutput(CallerOf(6)));
  EXPECT_TRUE(WaitUntil([&] {
    const QList<QByteArray> lines = status.MessagesStartingWith("STATUS=");
    return !lines.isEmpty() && lines.last().endsWith("; webhooks failing: CRM");
  }));
  fixture->relay->Signal(SIGKILL);
  ASSERT_TRUE(fixture->relay->WaitFinished());
  accepting = true;
  ASSERT_TRUE(fixture->StartRelay());
  ASSERT_TRUE(WaitUntil([&] { return delivered.contains(CallerOf(5)); }, kNoticeWaitMs));
  delivered.removeAll(CallerOf(6));
  EXPECT_EQ(delivered,
            (QStringList{CallerOf(1), CallerOf(2), CallerOf(3), CallerOf(4), CallerOf(5)}));
}

}  // namespace

// Events waiting for a failing webhook outlive the relay's kill: the next
// start on the same state directory sends every one, in order.
#include <gtest/gtest.h>

#include <QHttpServer>
#include <QJsonDocument>
#include <QJsonObject>
#include <set>

#include "e2e/faulttest.h"
#include "support/notifysocket.h"

namespace {

class WebhookRestartTest : public FaultTest {
 protected:
  WebhookRestartTest() {
    receiver.route("/hook", [this](const QHttpServerRequest& request) {
      const QJsonObject event = QJsonDocument::fromJson(request.body()).object();
      received.emplace_back(request.value("X-Tarvex-Event-Id"), event["caller"].toString());
      return QHttpServerResponse(accepting ? QHttpServerResponder::StatusCode::Ok
                                           : QHttpServerResponder::StatusCode::ServiceUnavailable);
    });
    const quint16 port = receiver.listen(QHostAddress::LocalHost, AnyFreePort());
    extraSettings += QStringLiteral("WEBHOOK_CRM=http://127.0.0.1:%1/hook\n").arg(port).toUtf8();
    adjustRelay = [this](RelayProcess::Options& options) {
      options.environment[QStringLiteral("TARVEX_WEBHOOK_SECRET_CRM")] = QStringLiteral("secret");
      options.environment[QStringLiteral("NOTIFY_SOCKET")] = status.Path();
    };
  }
  // The callers in the order their events first arrived, repeats dropped by event id.
  QStringList Delivered() const {
    QStringList callers;
    std::set<QByteArray> seen;
    for (const auto& [id, caller] : received) {
      if (seen.insert(id).second) callers << caller;
    }
    return callers;
  }

  QHttpServer receiver;
  std::vector<std::pair<QByteArray, QString>> received;  // event id, caller
  bool accepting = false;
  NotifySocket status;  // as systemd's
};

TEST_F(WebhookRestartTest, EventsWaitingForAFailingHookArriveAfterTheRelaysKill) {
  RelayUnderFault& relay = *fixture;
  for (int n = 1; n <= 5; ++n) relay.Ring(n);
  // Its activity line comes once the rings before it went into the hook's queue.
  relay.Ring(6);
  ASSERT_TRUE(relay.relay->WaitForOutput(CallerOf(6)));
  EXPECT_TRUE(WaitUntil([&] {
    const QList<QByteArray> lines = status.MessagesStartingWith("STATUS=");
    return !lines.isEmpty() && lines.last().endsWith("; webhooks failing: CRM");
  }));
  relay.relay->Signal(SIGKILL);
  ASSERT_TRUE(relay.relay->WaitFinished());
  accepting = true;
  ASSERT_TRUE(relay.StartRelay());
  ASSERT_TRUE(WaitUntil([&] { return Delivered().contains(CallerOf(5)); }, kNoticeWaitMs));
  QStringList delivered = Delivered();
  delivered.removeAll(CallerOf(6));
  EXPECT_EQ(delivered,
            (QStringList{CallerOf(1), CallerOf(2), CallerOf(3), CallerOf(4), CallerOf(5)}));
}

}  // namespace

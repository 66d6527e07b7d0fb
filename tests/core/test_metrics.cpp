// The relay's metrics as Prometheus reads them: the exposition text through
// the prometheus_client parser, before and after a ring and refused connections.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QWebSocket>

#include "core/feed/feedtoken.h"
#include "support/faketelcontrol.h"
#include "support/handlercore.h"
#include "support/qtwait.h"

using namespace handlertest;

namespace {

// Debian's Python, where python3-prometheus-client puts the parser. Each
// sample as [name, {labels}, value], and each family's type.
constexpr char kParser[] = R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
families = list(text_string_to_metric_families(sys.stdin.read()))
print(json.dumps({"types": {f.name: f.type for f in families},
                  "samples": [[s.name, s.labels, s.value] for f in families for s in f.samples]}))
)";

struct Exposition {
  QJsonObject types;
  QJsonArray samples;

  double Value(const QString& name, const QJsonObject& labels) const {
    for (const QJsonValue& sample : samples) {
      const QJsonArray fields = sample.toArray();
      if (fields[0] == name && fields[1] == labels) return fields[2].toDouble();
    }
    ADD_FAILURE() << "no sample " << name.toStdString();
    return -1;
  }
};

Exposition Parsed(const QByteArray& text) {
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"), QString::fromLatin1(kParser)});
  python.write(text);
  python.closeWriteChannel();
  EXPECT_TRUE(python.waitForFinished());
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  const QJsonObject parsed = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
  return {parsed[QStringLiteral("types")].toObject(), parsed[QStringLiteral("samples")].toArray()};
}

QJsonObject Labels(std::initializer_list<std::pair<QString, QString>> pairs) {
  QJsonObject labels;
  for (const auto& [name, value] : pairs) labels.insert(name, value);
  return labels;
}

TEST(MetricsTest, EveryFamilyParsesAndMovesWithRingsAndRefusals) {
  CoreEnvironment env;  // its database refuses every record
  FakeTelControls controls;
  SettingsStore& settings = env.Settings();
  settings.WriteProfileInt(QStringLiteral("SENDTYPE"), 2);
  settings.WriteProfileInt(QStringLiteral("CENTERID"), 5);
  // One connection per host and port: a second one is refused.
  settings.WriteProfileInt(QStringLiteral("CLIENTSPERHOST"), 1);
  const QString secret = FeedToken::NewSecret();
  settings.WriteProfileString(
      QStringLiteral("FEEDTOKEN_desk"),
      FeedToken{QStringLiteral("desk"), FeedToken::HashOf(secret), {QStringLiteral("301")}, false}
          .StoredValue()
          .toLatin1());
  CoreContext context = env.Context(controls.Factory());
  context.feedPort = FreeTcpPort();
  CentrixCore core(context);
  ASSERT_TRUE(core.Start());
  for (const int slot : {0, 3}) {
    controls[slot].loggedIn = true;
    controls[slot].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok %1,").arg(301 + slot / 3));
  }
  NoticeClient desk;
  ASSERT_TRUE(desk.Register(env.extPort, "301"));
  QWebSocket browser;
  int messages = 0;
  QObject::connect(&browser, &QWebSocket::textMessageReceived, [&] { ++messages; });
  browser.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(context.feedPort)));
  ASSERT_TRUE(WaitUntil([&] { return browser.state() == QAbstractSocket::ConnectedState; }));
  browser.sendTextMessage(QStringLiteral(R"({"type":"auth","token":"%1"})").arg(secret));
  ASSERT_TRUE(WaitUntil([&] { return messages == 1; }));

  const Exposition before = Parsed(core.MetricsText());
  controls[0].RaiseRing(QStringLiteral("EVENT:RING|ISDIAL:0|CALLERID:0212345678|INEXTEN:4567|"));
  ASSERT_TRUE(WaitUntil([&] { return messages == 2 && desk.Records().size() == 1; }));
  for (const quint16 port : {env.extPort, context.feedPort}) {
    TestClient refused(port);
    EXPECT_TRUE(refused.WaitForPeerClose());
  }
  const Exposition after = Parsed(core.MetricsText());

  enum Reading { kNow, kMoved };
  const struct {
    QString family, type, sample;
    QJsonObject labels;
    Reading reading;
    double value;
  } expected[] = {
      {"tarvex_accounts_signed_in", "gauge", "tarvex_accounts_signed_in", {}, kNow, 2},
      {"tarvex_clients", "gauge", "tarvex_clients", Labels({{"kind", "extension"}}), kNow, 1},
      {"tarvex_clients", "gauge", "tarvex_clients", Labels({{"kind", "ldk505"}}), kNow, 0},
      {"tarvex_clients", "gauge", "tarvex_clients", Labels({{"kind", "feed"}}), kNow, 1},
      {"tarvex_records_waiting", "gauge", "tarvex_records_waiting", {}, kNow, 0},
      {"tarvex_notices_sent", "counter", "tarvex_notices_sent_total",
       Labels({{"kind", "extension"}}), kMoved, 1},
      {"tarvex_notices_sent", "counter", "tarvex_notices_sent_total", Labels({{"kind", "feed"}}),
       kMoved, 1},
      {"tarvex_notices_sent", "counter", "tarvex_notices_sent_total", Labels({{"kind", "ldk505"}}),
       kMoved, 0},
      {"tarvex_ring_to_send_seconds",
       "histogram",
       "tarvex_ring_to_send_seconds_count",
       {},
       kMoved,
       1},
      {"tarvex_ring_to_send_seconds", "histogram", "tarvex_ring_to_send_seconds_bucket",
       Labels({{"le", "+Inf"}}), kMoved, 1},
      {"tarvex_records_written", "counter", "tarvex_records_written_total", {}, kMoved, 0},
      {"tarvex_records_rejected", "counter", "tarvex_records_rejected_total", {}, kMoved, 1},
      {"tarvex_refused_connections", "counter", "tarvex_refused_connections_total",
       Labels({{"port", "extension"}, {"reason", "host_limit"}}), kMoved, 1},
      {"tarvex_refused_connections", "counter", "tarvex_refused_connections_total",
       Labels({{"port", "feed"}, {"reason", "host_limit"}}), kMoved, 1},
      {"tarvex_refused_connections", "counter", "tarvex_refused_connections_total",
       Labels({{"port", "ldk505"}, {"reason", "not_allowed"}}), kMoved, 0},
  };
  for (const auto& metric : expected) {
    SCOPED_TRACE(metric.sample.toStdString() + " " +
                 QJsonDocument(metric.labels).toJson(QJsonDocument::Compact).toStdString());
    EXPECT_EQ(after.types[metric.family].toString(), metric.type);
    const double now = after.Value(metric.sample, metric.labels);
    EXPECT_EQ(metric.reading == kNow ? now : now - before.Value(metric.sample, metric.labels),
              metric.value);
  }
}

}  // namespace

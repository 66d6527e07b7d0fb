#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "core/feed/calleventjson.h"
#include "core/text/cp949.h"
#include "support/scopedzone.h"

namespace {

// What QJsonDocument made of the event, which browsers, webhooks and the
// broker's consumers have had from the start.
QByteArray QtJson(const CallEvent& event, const QString& relay) {
  const QDateTime time = event.time.toOffsetFromUtc(event.time.offsetFromUtc());
  const QJsonObject object{
      {QStringLiteral("type"), QStringLiteral("call")},
      {QStringLiteral("version"), kCallEventSchemaVersion},
      {QStringLiteral("event"), QLatin1String(CallEventKindName(event.kind))},
      {QStringLiteral("callId"), FromCp949(event.callId)},
      {QStringLiteral("relay"), relay},
      {QStringLiteral("account"), event.slot + 1},
      {QStringLiteral("extension"), QString::number(event.extension)},
      {QStringLiteral("caller"), FromCp949(event.caller)},
      {QStringLiteral("inbound"), FromCp949(event.inbound)},
      {QStringLiteral("dialled"), event.dialled},
      {QStringLiteral("time"), time.toString(Qt::ISODate)},
  };
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Byte for byte what it was: every escape a caller's text can need, local
// times in zones with odd and daylight-saving offsets, instants before 1970.
TEST(CallEventJson, WritesWhatQJsonDocumentWrote) {
  const QByteArray texts[] = {
      "01012345678",
      {},
      ToCp949(QStringLiteral("홍길동 <b>\"대표\"</b>")),
      QByteArray("\0\x01\x1f\x7f\b\f\n\r\t\\/\"", 13),
      "\xff\xfe\x81",  // not CP949
  };
  const char* zones[] = {"UTC0", "KST-9", "NST3:30NDT,M3.2.0,M11.1.0", "NPT-5:45"};
  const qint64 instants[] = {1765183215123, 1773554400000 /* a spring switch */, -1};
  for (const char* zone : zones) {
    const ScopedZone scoped(zone);
    for (const qint64 msecs : instants) {
      for (const QByteArray& text : texts) {
        for (const bool local : {true, false}) {
          CallEvent event;
          event.kind = CallEventKind::Answer;
          event.slot = 59;
          event.extension = -2147483647;
          event.caller = text;
          event.inbound = text;
          event.callId = text;
          event.dialled = local;
          event.time = local ? QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime)
                             : QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, -12600);
          const QString relay = FromCp949(text);
          EXPECT_EQ(CallEventJson(event, relay).toStdString(), QtJson(event, relay).toStdString())
              << zone << ' ' << msecs;
        }
      }
    }
  }
}

}  // namespace

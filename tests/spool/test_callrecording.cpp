#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "core/centrixcore.h"
#include "core/db/callrecording.h"
#include "core/db/callrecordrejectfile.h"
#include "core/text/cp949.h"
#include "support/handlercore.h"

// The relay's ring path into the spool: a call the spool takes shows
// nothing, a call it will not take shows "DB 기록 실패" and goes to the
// reject file, and what the last run left unreadable is set down there.
namespace {

QString RejectFileText(const CallRecording& recording) {
  QFile file(recording.RejectFilePath());
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(CallRecordingTest, CallTheSpoolCannotTakeIsShownAndSetDownInTheRejectFile) {
  struct Case {
    const char* name;
    QByteArray caller;
    bool waits;
    QString reason;
  };
  const Case cases[] = {
      {"ordinary", "01012345678", true, {}},
      // Larger than one spooled record may be.
      {"too large", QByteArray(70 * 1024, '7'), false, QStringLiteral("(기록이 너무 큼)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    handlertest::CoreEnvironment environment;
    CallRecording recording(environment.directory.filePath(QStringLiteral("state")),
                            "DRIVER={none};");
    QString problem;
    ASSERT_TRUE(recording.Open(&problem)) << problem.toStdString();
    CoreContext context = environment.Context();
    context.recording = &recording;
    CentrixCore core(std::move(context));
    core.SetCenterId(3);

    core.Recorder().CallInWrite(CallRecord{3, c.caller, "1234", "301", 0});
    EXPECT_EQ(core.Recorder().RecordsWaiting(), c.waits ? 1 : 0);
    const QByteArray failureLine = handlertest::RecordFailureLine(c.caller, "1234", "301");
    EXPECT_EQ(handlertest::HasActivityLine(core, failureLine), !c.waits);
    const QString rejected = RejectFileText(recording);
    if (c.waits) {
      EXPECT_TRUE(rejected.isEmpty()) << rejected.toStdString();
    } else {
      EXPECT_TRUE(rejected.contains(QStringLiteral(" 회사코드 3 DB 기록 실패: ")));
      EXPECT_TRUE(rejected.contains(c.reason + QStringLiteral(" TVXR:")));
      // The line holds the whole record, to be put back into the spool.
      const std::optional<CallRecord> back =
          CallRecordRejectFile::RecordOf(rejected.trimmed().toUtf8());
      ASSERT_TRUE(back);
      EXPECT_EQ(back->caller, c.caller);
      EXPECT_EQ(back->centerId, 3);
    }
  }
}

TEST(CallRecordingTest, UnreadableBytesLeftByTheLastRunGoToTheRejectFile) {
  QTemporaryDir directory;
  const QString state = directory.filePath(QStringLiteral("state"));
  ASSERT_TRUE(QDir().mkpath(state));
  QFile spool(QDir(state).filePath(QStringLiteral("callrecords.spool")));
  ASSERT_TRUE(spool.open(QIODevice::WriteOnly));
  spool.write("not a record at all");
  spool.close();

  CallRecording recording(state, "DRIVER={none};");
  QString problem;
  ASSERT_TRUE(recording.Open(&problem)) << problem.toStdString();
  EXPECT_EQ(recording.Waiting(), 0);
  EXPECT_TRUE(
      RejectFileText(recording).contains(QStringLiteral("읽을 수 없는 기록 19바이트: 6e 6f 74")))
      << RejectFileText(recording).toStdString();
}

}  // namespace

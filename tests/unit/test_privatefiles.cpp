// The spool, the reject file and the per-user settings are 0600 whatever the
// umask: when created, when found wider, and when rewritten by renaming.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>
#include <QTemporaryDir>
#include <functional>

#include "core/config/settingsstore.h"
#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"

TEST(PrivateFilesTest, ModesHoldWhenCreatedWhenFoundWiderAndWhenRewritten) {
  const mode_t umask = ::umask(0);
  QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
  const CallRecord record{7, "01012345678", "1234", "301", 0};
  CallRecordRejectFile rejects(dir.filePath("rejected.txt"));
  const struct {
    const char* path;
    std::function<void()> write;
  } cases[] = {
      {"state/callrecords.spool",
       [&] {
         CallRecordSpool spool(dir.filePath("state"));
         ASSERT_TRUE(spool.Open() &&
                     spool.Append(record) == CallRecordSpool::AppendResult::Appended);
       }},
      {"rejected.txt", [&] { rejects.AppendRecord(record, "refused"); }},
      {"rejected.txt", [&] { rejects.ReplaceLines({"kept"}); }},
      {"config/MERVO/Tarvex.conf",
       [] { SettingsStore("MERVO", "Tarvex").WriteProfileString("PWD1", "pw"); }},
  };
  for (const auto& c : cases) {
    const QByteArray path = QFile::encodeName(dir.filePath(c.path));
    struct stat status {};
    for (const mode_t found : {0, 0666}) {  // created, then found wider
      if (found) ::chmod(path.constData(), found);
      c.write();
      ASSERT_EQ(::stat(path.constData(), &status), 0) << c.path;
      EXPECT_EQ(status.st_mode & 07777, 0600u) << c.path << " found " << std::oct << found;
    }
  }
  ::umask(umask);
}

// The settings in an administrator's INI file, and the commented sample the
// package installs as /etc/tarvex/tarvex.conf.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "core/config/settingsstore.h"
#include "support/qtprint.h"

namespace {

const QString kSample = QStringLiteral(TARVEX_SOURCE_DIR "/packaging/tarvex.conf");

QByteArray ReadSample() {
  QFile file(kSample);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << kSample;
  return file.readAll();
}

QString Write(const QTemporaryDir& dir, const QByteArray& content) {
  const QString path = dir.filePath(QStringLiteral("tarvex.conf"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content);
  return path;
}

TEST(SettingsFileTest, SampleReadsAsDefaultsAndItsExamplesAsWritten) {
  QTemporaryDir dir;
  const QByteArray sample = ReadSample();
  SettingsStore commented(Write(dir, sample));
  ASSERT_TRUE(commented.IsReadable());
  for (const char* name : {"LOGTYPE", "SERVERTYPE", "SENDTYPE", "CENTERID"}) {
    EXPECT_EQ(commented.GetProfileInt(QLatin1String(name), -7), -7) << name;
  }
  EXPECT_EQ(commented.GetProfileString(QStringLiteral("UID1"), "none"), "none");

  // Every name the relay reads is in the sample, as an example of its default.
  QByteArray examples = sample;
  examples.replace(QByteArray("\n;"), QByteArray("\n"));
  SettingsStore uncommented(Write(dir, examples));
  for (const IntSetting* setting :
       {&kLogTypeSetting, &kServerTypeSetting, &kSendTypeSetting, &kCenterIdSetting,
        &kClientsPerHostSetting, &kRegisterWaitSetting, &kTakeOverAnyHostSetting,
        &kWholeNumbersSetting}) {
    EXPECT_EQ(uncommented.GetProfileInt(QLatin1String(setting->name), -7), setting->defaultValue)
        << setting->name;
  }
  for (const int slot : {1, 2}) {
    EXPECT_EQ(uncommented.GetProfileString(QStringLiteral("UID%1").arg(slot), {}),
              "agent30" + QByteArray::number(slot));
    EXPECT_EQ(uncommented.GetProfileString(QStringLiteral("PWD%1").arg(slot), {}), "secret");
    EXPECT_EQ(uncommented.GetProfileString(QStringLiteral("ServerIP%1").arg(slot), {}),
              "10.0.0.20");
  }
}

TEST(SettingsFileTest, NamesAnyCaseAndWhatCannotBeRead) {
  QTemporaryDir dir;
  struct Case {
    const char* what;
    QByteArray content;  // empty: no file at all
    bool readable;
    qint32 sendType;
    QByteArray uid1;
  };
  const Case cases[] = {
      {"upper case", "[SETTING]\nSENDTYPE=2\nUID1=agent1\n", true, 2, "agent1"},
      {"mixed case", "[SETTING]\nSendType=1\nuid1=agent1\n", true, 1, "agent1"},
      {"other section only", "[OTHER]\nSENDTYPE=2\n", true, 0, ""},
      {"Korean ID", "[SETTING]\nUID1=\xec\x83\x81\xeb\x8b\xb4\xec\x9b\x90\n", true, 0,
       "\xbb\xf3\xb4\xe3\xbf\xf8"},
      {"commas", "[SETTING]\nUID1=a, b,c\n", true, 0, "a,b,c"},
      {"number out of range", "[SETTING]\nSENDTYPE=99999999999\n", true, 0, ""},
      {"binary junk", QByteArray("\x00\xff[SETTING\n=\n\x01", 12), true, 0, ""},
      {"empty file", "\n", true, 0, ""},
      {"missing file", {}, false, 0, ""},
  };
  for (const Case& c : cases) {
    const QString path = dir.filePath(QStringLiteral("%1.conf").arg(QLatin1String(c.what)));
    if (!c.content.isEmpty()) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.content);
    }
    SettingsStore store(path);
    EXPECT_EQ(store.IsReadable(), c.readable) << c.what;
    EXPECT_EQ(store.Location(), path) << c.what;
    EXPECT_EQ(store.GetProfileInt(QStringLiteral("SENDTYPE"), 0), c.sendType) << c.what;
    EXPECT_EQ(store.GetProfileString(QStringLiteral("UID1"), {}), c.uid1) << c.what;
  }
  // A directory in the place of the file.
  EXPECT_FALSE(SettingsStore(dir.path()).IsReadable());
}

}  // namespace

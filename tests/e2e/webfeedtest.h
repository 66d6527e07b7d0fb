#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "e2e/faulttest.h"

// The real relay with its browser feed on a port of its own, and tokens
// made as an operator makes them.
class WebFeedTest : public FaultTest {
 protected:
  WebFeedTest() {
    adjustRelay = [](RelayProcess::Options& options) { options.feedPort = AnyFreePort(); };
  }
  quint16 FeedPort() const { return fixture->relay->options().feedPort; }
  // A token made as an operator makes it, taken by the running relay.
  QString NewToken(const QString& name, const QStringList& scope) {
    QProcess tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), fixture->relay->options().configHome);
    tarvex.setProcessEnvironment(environment);
    tarvex.start(QStringLiteral(TARVEX_BINARY_DIR "/Tarvex"),
                 QStringList{QStringLiteral("--new-token"), name} + scope);
    EXPECT_TRUE(tarvex.waitForFinished());
    EXPECT_EQ(tarvex.exitCode(), 0) << tarvex.readAllStandardError().toStdString();
    return QString::fromLatin1(tarvex.readAllStandardOutput()).trimmed();
  }
  QString SettingsFile() const {
    return fixture->relay->options().configHome + QStringLiteral("/MERVO/Tarvex.conf");
  }
};

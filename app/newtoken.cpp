#include "app/newtoken.h"

#include <QFile>
#include <cstdio>

#include "app/commandline.h"
#include "app/exitcode.h"
#include "core/config/appconfig.h"
#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/feed/feedtoken.h"

namespace {

// The line goes at the end of the file as it stands: the operator's
// comments, its owner and its mode stay (a settings rewrite would lose them).
bool AppendSetting(const QString& path, const QByteArray& line) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) return false;
  file.seek(0);  // read from the start; writes still go to the end
  const QByteArray text = file.readAll();
  QByteArray lastSection;
  for (const QByteArray& fileLine : text.split('\n')) {
    const QByteArray trimmed = fileLine.trimmed();
    if (trimmed.startsWith('[') && trimmed.contains(']')) {
      lastSection = trimmed.mid(1, trimmed.indexOf(']') - 1).trimmed().toUpper();
    }
  }
  QByteArray appended = text.isEmpty() || text.endsWith('\n') ? QByteArray() : "\n";
  if (lastSection != "SETTING") {
    appended += "[SETTING]\n";
  }
  appended += line + '\n';
  return file.write(appended) == appended.size() && file.flush();
}

}  // namespace

int MakeFeedToken(const AppConfig& config, const CommandLineOptions& options) {
  const std::unique_ptr<SettingsStore> settings = config.OpenSettings();
  const QString key = QLatin1String(kFeedTokenKeyPrefix) + options.newTokenName.toUpper();
  if (!settings->GetProfileString(key, {}).isEmpty()) {
    std::fprintf(stderr, "A token named %s exists: remove its line from %s first.\n",
                 options.newTokenName.toUtf8().constData(),
                 settings->Location().toUtf8().constData());
    return ToInt(ExitCode::BadCommandLine);
  }
  const QString secret = FeedToken::NewSecret();
  FeedToken token;
  token.name = options.newTokenName;
  token.hash = FeedToken::HashOf(secret);
  token.admin = options.tokenAdmin;
  if (!token.admin) {
    QString error;
    token.extensions = FeedToken::ParseExtensions(options.tokenExtensions, &error);
  }
  settings->MakePerUserFilePrivate();  // a desk's first setting makes the file
  if (!AppendSetting(settings->Location(), (key + u'=' + token.StoredValue()).toUtf8())) {
    std::fprintf(stderr, "Cannot add the token to %s.\n",
                 settings->Location().toUtf8().constData());
    return ToInt(ExitCode::SettingsUnreadable);
  }
  std::printf("%s\n", secret.toUtf8().constData());
  return ToInt(ExitCode::Orderly);
}

#include "app/startupcheck.h"

#include "core/config/settingsstore.h"
#include "core/db/calldatabase.h"
#include "core/telephony/telbaseopenapi.h"
#include "core/text/cp949.h"

namespace {

QString Setting(SettingsStore& settings, const IntSetting& setting) {
  return QStringLiteral("%1 %2")
      .arg(QLatin1String(setting.name))
      .arg(settings.GetProfileInt(setting));
}

// The configured slots, as start-up will sign them in; passwords are not shown.
QString AccountsReport(SettingsStore& settings) {
  QString lines;
  int configured = 0;
  for (int n = 1; n <= kTelControlCount; ++n) {
    const QByteArray id = settings.GetProfileString(AccountIdKey(n), {});
    const QByteArray pwd = settings.GetProfileString(AccountPasswordKey(n), {});
    if (id.isEmpty() && pwd.isEmpty()) continue;
    const QByteArray address = settings.GetProfileString(AccountServerKey(n), {});
    const bool signsIn = !id.isEmpty() && !pwd.isEmpty();
    if (signsIn) ++configured;
    lines +=
        QStringLiteral("  account %1: %2 at %3%4\n")
            .arg(QString::number(n), FromCp949(id),
                 address.isEmpty() ? QStringLiteral("(no address)") : FromCp949(address),
                 signsIn ? QString() : QStringLiteral(" (ID or password missing: not signed in)"));
  }
  return QStringLiteral("  %1 of %2 accounts configured\n").arg(configured).arg(kTelControlCount) +
         lines;
}

}  // namespace

StartupCheck RunStartupCheck(SettingsStore& settings, const std::string& odbcConnection) {
  QString report = QStringLiteral("Settings: %1").arg(settings.Location());
  if (!settings.IsReadable()) {
    return {ExitCode::SettingsUnreadable, report + QStringLiteral(": cannot be read\n")};
  }
  report += QStringLiteral("\n  %1, %2, %3, %4\n")
                .arg(Setting(settings, kServerTypeSetting), Setting(settings, kSendTypeSetting),
                     Setting(settings, kLogTypeSetting), Setting(settings, kCenterIdSetting));
  report += AccountsReport(settings);

  CallDatabase database(odbcConnection);
  const bool connected = database.ConnectDB();
  database.DisconnectDB();
  report += connected ? QStringLiteral("Call database: connected\n")
                      : QStringLiteral("Call database: cannot connect\n");
  return {connected ? ExitCode::Orderly : ExitCode::DatabaseUnreachable, report};
}

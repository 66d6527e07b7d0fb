#include "core/relay/allowlistsetting.h"

#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/text/cp949.h"

AllowedNetworks ReadAllowList(SettingsStore& settings, const TextSetting& setting,
                              const QString& place,
                              const std::function<void(const QByteArray&)>& error) {
  const QString name = QLatin1String(setting.name);
  QStringList badEntries;
  const AllowedNetworks allowed =
      AllowedNetworks::Parse(FromCp949(settings.GetProfileString(setting)).trimmed(), badEntries);
  for (const QString& entry : badEntries) {
    error(ToCp949(QStringLiteral("%1의 잘못된 항목을 무시합니다: %2").arg(name, entry)));
  }
  if (allowed.TakesNoOne()) {
    error(ToCp949(QStringLiteral("%1에 쓸 수 있는 항목이 없어 %2에 아무도 접속할 수 없습니다.")
                      .arg(name, place)));
  }
  return allowed;
}

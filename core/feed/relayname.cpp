#include "core/feed/relayname.h"

#include <QSysInfo>

#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/text/cp949.h"

QString RelayName(SettingsStore& settings) {
  const QString name = FromCp949(settings.GetProfileString(QLatin1String(kRelayNameKey), {}));
  return name.isEmpty() ? QSysInfo::machineHostName() : name;
}

#include "core/stream/amqpsettings.h"

#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/text/cp949.h"

AmqpSettings AmqpSettings::WithEnvironmentCredentials() {
  AmqpSettings settings;
  settings.user = qEnvironmentVariableIsSet("TARVEX_AMQP_USER") ? qgetenv("TARVEX_AMQP_USER")
                                                                : QByteArray("guest");
  settings.password = qEnvironmentVariableIsSet("TARVEX_AMQP_PASSWORD")
                          ? qgetenv("TARVEX_AMQP_PASSWORD")
                          : QByteArray("guest");
  return settings;
}

AmqpSettings AmqpSettings::Read(SettingsStore& store) {
  AmqpSettings settings = WithEnvironmentCredentials();
  settings.host = FromCp949(store.GetProfileString(kAmqpHostSetting)).trimmed();
  const qint32 port = store.GetProfileInt(kAmqpPortSetting);
  if (port > 0 && port <= 65535) settings.port = quint16(port);
  settings.virtualHost = FromCp949(store.GetProfileString(kAmqpVirtualHostSetting));
  settings.exchange = FromCp949(store.GetProfileString(kAmqpExchangeSetting));
  settings.tls = store.GetProfileInt(kAmqpTlsSetting) != 0;
  settings.caFile = FromCp949(store.GetProfileString(kAmqpCaFileSetting));
  return settings;
}

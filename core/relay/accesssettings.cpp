// Who may use the client ports, read once at start.
#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/relay/allowlistsetting.h"
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

namespace {

// Empty: every IPv4 address, as the ports always listened; "*": every IPv4
// and IPv6 address. Null when the text is no address.
QHostAddress ListenAddress(const QString& text) {
  if (text.isEmpty()) return QHostAddress(QHostAddress::AnyIPv4);
  if (text == QLatin1String("*")) return QHostAddress(QHostAddress::Any);
  return QHostAddress(text);
}

QString Text(SettingsStore& settings, const TextSetting& setting) {
  return FromCp949(settings.GetProfileString(setting)).trimmed();
}

}  // namespace

void ClientRelay::ReadAccessSettings(SettingsStore& settings) {
  const TextSetting* listenSettings[] = {&kExtListenSetting, &kLdkListenSetting};
  const TextSetting* allowSettings[] = {&kExtAllowSetting, &kLdkAllowSetting};
  for (const int kind : {kExtensionClient, kLdkClient}) {
    const QString name = QLatin1String(listenSettings[kind]->name);
    const QString listen = Text(settings, *listenSettings[kind]);
    m_listenAddress[size_t(kind)] = ListenAddress(listen);
    if (m_listenAddress[size_t(kind)].isNull()) {
      emit ErrorLine(
          ToCp949(QStringLiteral("%1의 주소를 읽을 수 없어 %2번 포트를 열지 않습니다: %3")
                      .arg(name)
                      .arg(Port(kind))
                      .arg(listen)));
    }

    m_admission.SetAllowed(
        kind,
        ReadAllowList(settings, *allowSettings[kind], QStringLiteral("포트 %1").arg(Port(kind)),
                      [this](const QByteArray& line) { emit ErrorLine(line); }));
  }
  m_admission.SetClientsPerHost(qMax(0, settings.GetProfileInt(kClientsPerHostSetting)));
  constexpr int kDaySeconds = 24 * 3600;
  m_registerWaitMs = qBound(0, settings.GetProfileInt(kRegisterWaitSetting), kDaySeconds) * 1000;
  m_registry.SetTakeOverAnyHost(settings.GetProfileInt(kTakeOverAnyHostSetting) == 1);
  m_registry.SetWholeNumbers(settings.GetProfileInt(kWholeNumbersSetting) == 1);
}

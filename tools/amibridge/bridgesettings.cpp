#include "tools/amibridge/bridgesettings.h"

#include <QFileInfo>
#include <QSettings>

namespace {

// A whole number of seconds within [1, 3600] as milliseconds; nothing when malformed.
std::optional<int> Seconds(const QSettings& settings, const QString& key, int defaultMs) {
  if (!settings.contains(key)) {
    return defaultMs;
  }
  bool ok = false;
  const int seconds = settings.value(key).toString().toInt(&ok);
  if (!ok || seconds < 1 || seconds > 3600) {
    return std::nullopt;
  }
  return seconds * 1000;
}

std::optional<quint16> Port(const QSettings& settings, const QString& key, quint16 defaultPort) {
  if (!settings.contains(key)) {
    return defaultPort;
  }
  bool ok = false;
  const uint port = settings.value(key).toString().toUInt(&ok);
  if (!ok || port == 0 || port > 65535) {
    return std::nullopt;
  }
  return static_cast<quint16>(port);
}

// true/false, yes/no or 1/0; nothing when malformed.
std::optional<bool> Flag(const QSettings& settings, const QString& key) {
  const QString value = settings.value(key, QStringLiteral("false")).toString().toLower();
  if (value == QLatin1String("true") || value == QLatin1String("yes") ||
      value == QLatin1String("1")) {
    return true;
  }
  if (value == QLatin1String("false") || value == QLatin1String("no") ||
      value == QLatin1String("0")) {
    return false;
  }
  return std::nullopt;
}

QStringList Endpoints(const QSettings& settings) {
  QStringList endpoints;
  // A comma-separated value comes as a list, a single one as a string.
  for (const QString& endpoint : settings.value(QStringLiteral("endpoints")).toStringList()) {
    if (!endpoint.trimmed().isEmpty()) {
      endpoints.append(endpoint.trimmed());
    }
  }
  return endpoints;
}

}  // namespace

std::optional<BridgeSettings> LoadBridgeSettings(const QString& path, QString* error) {
  if (!QFileInfo(path).isReadable()) {
    *error = QStringLiteral("cannot read %1").arg(path);
    return std::nullopt;
  }
  QSettings settings(path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) {
    *error = QStringLiteral("%1 is not a valid settings file").arg(path);
    return std::nullopt;
  }
  BridgeSettings bridge;
  const AmiTiming defaults;

  settings.beginGroup(QStringLiteral("ami"));
  bridge.ami.host = settings.value(QStringLiteral("host"), bridge.ami.host).toString();
  bridge.ami.user = settings.value(QStringLiteral("user")).toString().toUtf8();
  bridge.ami.secret = settings.value(QStringLiteral("secret")).toString().toUtf8();
  const std::optional<quint16> amiPort = Port(settings, QStringLiteral("port"), bridge.ami.port);
  const std::optional<int> ping =
      Seconds(settings, QStringLiteral("ping_seconds"), defaults.pingIntervalMs);
  const std::optional<int> reply =
      Seconds(settings, QStringLiteral("reply_timeout_seconds"), defaults.replyTimeoutMs);
  const std::optional<int> firstRetry =
      Seconds(settings, QStringLiteral("first_retry_seconds"), defaults.firstRetryMs);
  const std::optional<int> maxRetry =
      Seconds(settings, QStringLiteral("max_retry_seconds"), defaults.maxRetryMs);
  const std::optional<bool> allowPlain = Flag(settings, QStringLiteral("allow_plain_secret"));
  settings.endGroup();
  if (bridge.ami.user.isEmpty() || bridge.ami.host.isEmpty()) {
    *error = QStringLiteral("[ami] needs host and user");
    return std::nullopt;
  }
  if (!amiPort || !ping || !reply || !firstRetry || !maxRetry || *firstRetry > *maxRetry ||
      !allowPlain) {
    *error = QStringLiteral("[ami] has a malformed port, time or allow_plain_secret");
    return std::nullopt;
  }
  bridge.ami.port = *amiPort;
  bridge.ami.allowPlainSecret = *allowPlain;
  bridge.timing = {*ping, *reply, *firstRetry, *maxRetry};

  settings.beginGroup(QStringLiteral("server"));
  const QString listen =
      settings.value(QStringLiteral("listen"), QStringLiteral("127.0.0.1")).toString();
  const std::optional<quint16> listenPort =
      Port(settings, QStringLiteral("port"), bridge.listenPort);
  const std::optional<bool> logCallers = Flag(settings, QStringLiteral("log_callers"));
  settings.endGroup();
  if (!bridge.listenAddress.setAddress(listen) || !listenPort || !logCallers) {
    *error = QStringLiteral("[server] has a malformed listen address, port or log_callers");
    return std::nullopt;
  }
  bridge.listenPort = *listenPort;
  bridge.logCallers = *logCallers;

  for (const QString& group : settings.childGroups()) {
    if (!group.startsWith(kAccountGroupPrefix)) {
      continue;
    }
    BridgeAccount account;
    account.account.id = group.mid(kAccountGroupPrefix.size());
    settings.beginGroup(group);
    account.account.password = settings.value(QStringLiteral("password")).toString();
    account.account.number = settings.value(QStringLiteral("number")).toString();
    account.endpoints = Endpoints(settings);
    settings.endGroup();
    // The relay takes the extension from before a "," in the sign-in answer.
    if (account.account.id.isEmpty() || account.account.number.isEmpty() ||
        account.account.number.contains(QLatin1Char(',')) ||
        account.account.number.contains(QLatin1Char('|')) || account.endpoints.isEmpty()) {
      *error = QStringLiteral("[%1] needs a number (no \",\" or \"|\") and endpoints").arg(group);
      return std::nullopt;
    }
    // An empty password would let anyone sign in with just the ID.
    if (account.account.password.isEmpty()) {
      *error = QStringLiteral("[%1] needs a password").arg(group);
      return std::nullopt;
    }
    bridge.accounts.append(account);
  }
  if (bridge.accounts.isEmpty()) {
    *error = QStringLiteral("no [%1<id>] group").arg(kAccountGroupPrefix);
    return std::nullopt;
  }
  return bridge;
}

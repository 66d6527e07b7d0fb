#include "core/webhook/webhooksetting.h"

#include <QStringList>

#include "core/feed/feedtoken.h"

QString WebhookSetting::SecretVariable(const QString& name) {
  return QStringLiteral("TARVEX_WEBHOOK_SECRET_") + name.toUpper();
}

std::optional<WebhookSetting> WebhookSetting::FromStored(const QString& name, const QString& value,
                                                         QString* error) {
  if (!FeedToken::IsValidName(name)) {
    *error = QStringLiteral("\"%1\" is not a hook name (letters, digits, - and _)").arg(name);
    return std::nullopt;
  }
  QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
  WebhookSetting setting;
  setting.name = name;
  setting.url = QUrl(parts.isEmpty() ? QString() : parts.takeFirst(), QUrl::StrictMode);
  const QString scheme = setting.url.scheme();
  if (!setting.url.isValid() || setting.url.host().isEmpty() ||
      (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
    *error = QStringLiteral("%1: \"%2\" is not an http:// or https:// address")
                 .arg(name, setting.url.toString());
    return std::nullopt;
  }
  if (!parts.isEmpty()) {
    setting.extensions = FeedToken::ParseExtensions(parts.join(u','), error);
    if (setting.extensions.isEmpty()) {
      *error = name + QStringLiteral(": ") + *error;
      return std::nullopt;
    }
  }
  setting.secret = qgetenv(SecretVariable(name).toLatin1().constData());
  if (setting.secret.isEmpty()) {
    *error = QStringLiteral("%1: no secret in %2").arg(name, SecretVariable(name));
    return std::nullopt;
  }
  return setting;
}

#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QUrl>
#include <optional>

// One hook as the settings keep it: WEBHOOK_<NAME>=<url> [extension ...],
// no extension: every event. Its secret comes from the environment,
// TARVEX_WEBHOOK_SECRET_<NAME>, so that neither the settings file nor the
// journal ever holds it.
struct WebhookSetting {
  QString name;
  QUrl url;
  QSet<QString> extensions;
  QByteArray secret;

  bool Hears(const QString& extension) const {
    return extensions.isEmpty() || extensions.contains(extension);
  }
  bool operator==(const WebhookSetting&) const = default;

  // Empty with *error set when the value or the secret is unusable.
  static std::optional<WebhookSetting> FromStored(const QString& name, const QString& value,
                                                  QString* error);
  static QString SecretVariable(const QString& name);
};

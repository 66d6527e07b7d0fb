#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

// A token of the browser feed as the settings keep it: only the SHA-256 of
// the secret, and what its holder may hear (whole extension numbers, or
// everything for an administrator).
struct FeedToken {
  QString name;
  QByteArray hash;  // hex
  QSet<QString> extensions;
  bool admin = false;

  bool Hears(const QString& extension) const { return admin || extensions.contains(extension); }

  // The stored value: "<hash> admin" or "<hash> 301 302" (no commas, which
  // the settings file would read as a list).
  QString StoredValue() const;
  // Empty with *error set when value is not a stored token.
  static std::optional<FeedToken> FromStored(const QString& name, const QString& value,
                                             QString* error);
  // A new secret for the holder (shown once, never stored) and its token.
  static QString NewSecret();
  static QByteArray HashOf(const QString& secret);
  // "301,302" as whole numbers; empty with *error set when a part is not one.
  static QSet<QString> ParseExtensions(const QString& list, QString* error);
  // Letters, digits, '-' and '_', at most 32.
  static bool IsValidName(const QString& name);
};

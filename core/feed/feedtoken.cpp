#include "core/feed/feedtoken.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <array>

namespace {
const char kAdmin[] = "admin";
constexpr std::size_t kSecretWords = 8;  // 256 bits
}  // namespace

QString FeedToken::StoredValue() const {
  if (admin) return QString::fromLatin1(hash) + u' ' + QLatin1String(kAdmin);
  QStringList sorted(extensions.begin(), extensions.end());
  std::sort(sorted.begin(), sorted.end());
  return QString::fromLatin1(hash) + u' ' + sorted.join(u' ');
}

std::optional<FeedToken> FeedToken::FromStored(const QString& name, const QString& value,
                                               QString* error) {
  QStringList parts = value.split(u' ', Qt::SkipEmptyParts);
  static const QRegularExpression hexHash(QStringLiteral("^[0-9a-f]{64}$"));
  if (parts.size() < 2 || !hexHash.match(parts[0]).hasMatch()) {
    *error =
        QStringLiteral("%1: expected \"<sha256 hex> admin\" or \"<sha256 hex> 301 302\"").arg(name);
    return std::nullopt;
  }
  FeedToken token;
  token.name = name;
  token.hash = parts.takeFirst().toLatin1();
  token.admin = parts == QStringList{QLatin1String(kAdmin)};
  if (!token.admin) {
    token.extensions = ParseExtensions(parts.join(u','), error);
    if (token.extensions.isEmpty()) {
      *error = QStringLiteral("%1: %2").arg(name, *error);
      return std::nullopt;
    }
  }
  return token;
}

QString FeedToken::NewSecret() {
  std::array<quint32, kSecretWords> words;
  QRandomGenerator::system()->fillRange(words.data(), words.size());
  const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
  return QString::fromLatin1(
      bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray FeedToken::HashOf(const QString& secret) {
  return QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QSet<QString> FeedToken::ParseExtensions(const QString& list, QString* error) {
  static const QRegularExpression number(QStringLiteral("^[0-9]{1,10}$"));
  QSet<QString> extensions;
  for (const QString& part : list.split(u',')) {
    const QString trimmed = part.trimmed();
    if (!number.match(trimmed).hasMatch()) {
      *error = QStringLiteral("\"%1\" is not an extension number").arg(trimmed);
      return {};
    }
    // The account's extension is a number: 0301 and 301 are one line.
    extensions.insert(QString::number(trimmed.toLongLong()));
  }
  return extensions;
}

bool FeedToken::IsValidName(const QString& name) {
  static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
  return valid.match(name).hasMatch();
}

#include "tools/telsim/telaccount.h"

#include <QStringList>

std::optional<TelAccount> ParseTelAccount(const QString& spec) {
  const QStringList parts = spec.split(QLatin1Char(':'));
  if (parts.size() < 3 || parts.size() > 4 || parts[0].isEmpty()) {
    return std::nullopt;
  }
  TelAccount account;
  account.id = parts[0];
  account.password = parts[1];
  account.number = parts[2];
  if (parts.size() == 4) {
    bool ok = false;
    account.status = parts[3].toInt(&ok);
    if (!ok) {
      return std::nullopt;
    }
  }
  return account;
}

#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "tools/amibridge/amiconnection.h"
#include "tools/telsim/telaccount.h"

// One agent: the account the relay signs in with, and the PBX endpoints of its phone.
struct BridgeAccount {
  TelAccount account;
  QStringList endpoints;
};

struct BridgeSettings {
  AmiEndpoint ami;
  AmiTiming timing;
  // Where the relay's telephony controls reach the bridge.
  QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
  quint16 listenPort = 7050;
  // Callers' numbers and names in the journal's event lines.
  bool logCallers = false;
  QList<BridgeAccount> accounts;
};

// Groups of the settings file whose name starts with this are accounts: "[account.agent1]".
inline const QString kAccountGroupPrefix = QStringLiteral("account.");

// Reads an INI settings file; nothing, with what is wrong in error, when it
// cannot be read or a value is missing or malformed.
std::optional<BridgeSettings> LoadBridgeSettings(const QString& path, QString* error);

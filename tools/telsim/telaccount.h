#pragma once

#include <QString>
#include <optional>

// One account the simulated telephony server knows.
struct TelAccount {
  QString id;
  QString password;
  // What a sign-in answer reports in MSG before its ","; the relay takes the
  // last three characters as the account's extension (301, 07012345301).
  QString number;
  // STATUS of a sign-in with the right password; 1 or more is a success.
  int status = 1;
  // When not empty, the whole answer to every sign-in with this ID, password or not.
  QString loginReply;
};

// "ID:PWD:EXT[:STATUS]" as given on the command line; nothing when malformed.
std::optional<TelAccount> ParseTelAccount(const QString& spec);

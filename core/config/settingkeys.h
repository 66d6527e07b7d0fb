#pragma once

#include <QString>
#include <QtGlobal>

// A number kept under SETTING, and what it reads as when missing.
struct IntSetting {
  const char* name;
  qint32 defaultValue;
};

// The operator's choices: log type, server type, send type and centre code.
extern const IntSetting kLogTypeSetting;
extern const IntSetting kServerTypeSetting;
extern const IntSetting kSendTypeSetting;
extern const IntSetting kCenterIdSetting;

// The account of slot number n (1 to 60): its ID, password and server
// address, each empty when missing.
QString AccountIdKey(int slotNumber);
QString AccountPasswordKey(int slotNumber);
QString AccountServerKey(int slotNumber);

// The browser feed: its listening address ("127.0.0.1" when missing),
// whether clear text is allowed on an address other than loopback, and
// one key per token, FEEDTOKEN_<name>.
extern const IntSetting kFeedClearTextSetting;
extern const char kFeedAddressKey[];
extern const char kFeedTokenKeyPrefix[];
// The relay's name in the events it publishes (the host's name when missing).
extern const char kRelayNameKey[];

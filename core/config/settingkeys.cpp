// Every name the settings are kept under, in one place: the relay, the
// window and the start-up check read and write the same keys.
#include "core/config/settingkeys.h"

const IntSetting kLogTypeSetting{"LOGTYPE", 0};
const IntSetting kServerTypeSetting{"SERVERTYPE", 0};
const IntSetting kSendTypeSetting{"SENDTYPE", 0};
const IntSetting kCenterIdSetting{"CENTERID", 0};

QString AccountIdKey(int slotNumber) { return QStringLiteral("UID%1").arg(slotNumber); }

QString AccountPasswordKey(int slotNumber) { return QStringLiteral("PWD%1").arg(slotNumber); }

QString AccountServerKey(int slotNumber) { return QStringLiteral("SERVERIP%1").arg(slotNumber); }

const IntSetting kFeedClearTextSetting{"FEEDCLEARTEXT", 0};
const char kFeedAddressKey[] = "FEEDADDRESS";
const char kFeedTokenKeyPrefix[] = "FEEDTOKEN_";
const char kRelayNameKey[] = "RELAYNAME";

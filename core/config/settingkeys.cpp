// Every name the settings are kept under, in one place: the relay, the
// window and the start-up check read and write the same keys.
#include "core/config/settingkeys.h"

const IntSetting kLogTypeSetting{"LOGTYPE", 0};
const IntSetting kServerTypeSetting{"SERVERTYPE", 0};
const IntSetting kSendTypeSetting{"SENDTYPE", 0};
const IntSetting kCenterIdSetting{"CENTERID", 0};

const TextSetting kExtListenSetting{"EXTLISTEN", ""};
const TextSetting kLdkListenSetting{"LDKLISTEN", ""};
const TextSetting kExtAllowSetting{"EXTALLOW", ""};
const TextSetting kLdkAllowSetting{"LDKALLOW", ""};
// A terminal server carries a desk per user, each with a connection or two.
const IntSetting kClientsPerHostSetting{"CLIENTSPERHOST", 200};
const IntSetting kRegisterWaitSetting{"REGISTERWAIT", 30};
const IntSetting kTakeOverAnyHostSetting{"TAKEOVERANYHOST", 0};
const IntSetting kWholeNumbersSetting{"WHOLENUMBERS", 0};

QString AccountIdKey(int slotNumber) { return QStringLiteral("UID%1").arg(slotNumber); }

QString AccountPasswordKey(int slotNumber) { return QStringLiteral("PWD%1").arg(slotNumber); }

QString AccountServerKey(int slotNumber) { return QStringLiteral("SERVERIP%1").arg(slotNumber); }

const IntSetting kFeedClearTextSetting{"FEEDCLEARTEXT", 0};
const TextSetting kFeedAllowSetting{"FEEDALLOW", ""};
const TextSetting kFeedCertificateSetting{"FEEDCERT", ""};
const TextSetting kFeedKeySetting{"FEEDKEY", ""};
const TextSetting kFeedLinkSetting{"FEEDLINK", ""};
const char kFeedAddressKey[] = "FEEDADDRESS";
const char kFeedTokenKeyPrefix[] = "FEEDTOKEN_";
const char kRelayNameKey[] = "RELAYNAME";

const TextSetting kAmqpHostSetting{"AMQPHOST", ""};
const IntSetting kAmqpPortSetting{"AMQPPORT", 5672};
const TextSetting kAmqpVirtualHostSetting{"AMQPVHOST", "/"};
const TextSetting kAmqpExchangeSetting{"AMQPEXCHANGE", "tarvex.calls"};
const IntSetting kAmqpTlsSetting{"AMQPTLS", 0};
const TextSetting kAmqpCaFileSetting{"AMQPCAFILE", ""};
const IntSetting kAmqpOutboxBytesSetting{"AMQPOUTBOXBYTES", 16 * 1024 * 1024};

const char kWebhookKeyPrefix[] = "WEBHOOK_";

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

// A text kept under SETTING, and what it reads as when missing.
struct TextSetting {
  const char* name;
  const char* defaultValue;
};

// Who may use the client ports. For each port the address it listens on
// (empty: every IPv4 address) and the client networks it takes, addresses
// or CIDR ranges separated by commas or blanks (empty: everyone).
extern const TextSetting kExtListenSetting;
extern const TextSetting kLdkListenSetting;
extern const TextSetting kExtAllowSetting;
extern const TextSetting kLdkAllowSetting;
// Open connections of one host address, both ports together.
extern const IntSetting kClientsPerHostSetting;
// Seconds an extension connection has for its first registration.
extern const IntSetting kRegisterWaitSetting;
// 1: a registration takes the row of its text from a client on any host,
// not only from one on its own host.
extern const IntSetting kTakeOverAnyHostSetting;
// 1: a registration matches an extension only as a whole number.
extern const IntSetting kWholeNumbersSetting;

// The account of slot number n (1 to 60): its ID, password and server
// address, each empty when missing.
QString AccountIdKey(int slotNumber);
QString AccountPasswordKey(int slotNumber);
QString AccountServerKey(int slotNumber);

// The browser feed: its listening address ("127.0.0.1" when missing),
// whether clear text is allowed on an address other than loopback, and
// one key per token, FEEDTOKEN_<name>.
extern const IntSetting kFeedClearTextSetting;
extern const TextSetting kFeedAllowSetting;
extern const TextSetting kFeedCertificateSetting;
extern const TextSetting kFeedKeySetting;
// The pages' link per call, {caller} standing for the caller's number.
extern const TextSetting kFeedLinkSetting;
extern const char kFeedAddressKey[];
extern const char kFeedTokenKeyPrefix[];
// The relay's name in the events it publishes (the host's name when missing).
extern const char kRelayNameKey[];

// The event stream's broker (AMQP 0-9-1): host (empty: no stream), port,
// virtual host, exchange, 1 for TLS with the CA file, and the most bytes of
// events its outbox keeps waiting for the broker.
extern const TextSetting kAmqpHostSetting;
extern const IntSetting kAmqpPortSetting;
extern const TextSetting kAmqpVirtualHostSetting;
extern const TextSetting kAmqpExchangeSetting;
extern const IntSetting kAmqpTlsSetting;
extern const TextSetting kAmqpCaFileSetting;
extern const IntSetting kAmqpOutboxBytesSetting;

// One key per webhook, WEBHOOK_<name>: its address and the extensions it hears.
extern const char kWebhookKeyPrefix[];

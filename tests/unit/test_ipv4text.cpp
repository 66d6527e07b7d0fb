#include <gtest/gtest.h>

#include "core/relay/ipv4text.h"

namespace {

TEST(Ipv4Text, ShowsIpv4AndMappedAddressesOnly) {
  const struct {
    const char* address;
    QByteArray text;
  } cases[] = {
      {"192.168.10.7", "192.168.10.7"},
      {"::ffff:10.1.2.3", "10.1.2.3"},
      {"255.255.255.255", "255.255.255.255"},
      {"::1", ""},
      {"fe80::1", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(DottedIpv4(QHostAddress(QString::fromLatin1(c.address))), c.text);
  }
  EXPECT_EQ(DottedIpv4(QHostAddress()), "");
}

TEST(Ipv4Text, FirstIpv4AddressOfAList) {
  const QHostAddress v6(QStringLiteral("2001:db8::5"));
  const QHostAddress first(QStringLiteral("10.0.0.1"));
  const QHostAddress second(QStringLiteral("10.0.0.2"));
  EXPECT_EQ(FirstIpv4Text({v6, first, second}), "10.0.0.1");
  EXPECT_EQ(FirstIpv4Text({second, first}), "10.0.0.2");
  EXPECT_EQ(FirstIpv4Text({v6}), "");
  EXPECT_EQ(FirstIpv4Text({}), "");
}

}  // namespace

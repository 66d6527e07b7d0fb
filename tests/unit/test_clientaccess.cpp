#include <gtest/gtest.h>

#include "core/relay/allowednetworks.h"
#include "core/relay/registrationmatch.h"

namespace {

TEST(AllowedNetworks, TakesOnlyPeersInItsNetworksAndReportsBadEntries) {
  const struct {
    const char* list;
    const char* peer;
    bool allowed;
    QStringList bad;
  } cases[] = {
      {"", "203.0.113.9", true, {}},
      {"127.0.0.3/32", "127.0.0.3", true, {}},
      {"127.0.0.3/32", "127.0.0.2", false, {}},
      {"127.0.0.3", "::ffff:127.0.0.3", true, {}},
      {"10.1.0.0/16 192.168.5.7,::1", "10.1.200.4", true, {}},
      {"fd00:12::/64", "fd00:12::77", true, {}},
      {"fd00:12::/64", "fd00:13::77", false, {}},
      {"10.0.0.0/33, 127.0.0.1", "127.0.0.1", true, {"10.0.0.0/33"}},
      {"nonsense,::1/129", "127.0.0.1", false, {"nonsense", "::1/129"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.list) + " / " + c.peer);
    QStringList bad;
    const AllowedNetworks networks = AllowedNetworks::Parse(QString::fromLatin1(c.list), bad);
    EXPECT_EQ(networks.Allows(QHostAddress(QString::fromLatin1(c.peer))), c.allowed);
    EXPECT_EQ(bad, c.bad);
  }
}

TEST(RegistrationMatch, WholeNumbersMatchOnlyWholeRunsOfDigits) {
  const struct {
    QByteArray text;
    QByteArray extension;
    bool anywhere;
    bool whole;
  } cases[] = {
      {"301,302", "301", true, true},
      {"301,302", "30", true, false},
      {"301,302", "1", true, false},
      {"a301b", "301", true, true},
      {"3013,301", "301", true, true},
      {"-5,7", "-5", true, true},
      {"\xb0\xa1"
       "301",
       "301", true, true},
      {"302", "301", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString() + " / " + c.extension.toStdString());
    EXPECT_EQ(RegistrationMatches(c.text, c.extension, false), c.anywhere);
    EXPECT_EQ(RegistrationMatches(c.text, c.extension, true), c.whole);
  }
}

}  // namespace

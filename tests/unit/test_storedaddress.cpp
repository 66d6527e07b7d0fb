#include <gtest/gtest.h>

#include "core/telephony/storedaddress.h"

namespace {

TEST(StoredAddress, ParseShowsEachPartInItsLowEightBits) {
  const struct {
    QByteArray text;
    AddressFields expected;
  } cases[] = {
      {"10.1.2.3", {10, 1, 2, 3}},
      {"10.1.2", {10, 1, 0, 0}},
      {"10.1", {10, 0, 0, 0}},
      {"10.", {10, 0, 0, 0}},
      {"10", {0, 0, 0, 0}},
      {"abc", {0, 0, 0, 0}},
      {".1.2.3", {0, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"10.1.2.300", {10, 1, 2, 44}},
      {"256.257.258.511", {0, 1, 2, 255}},
      {"-1.2.3.4", {255, 2, 3, 4}},
      {"1.2.3.", {1, 2, 3, 0}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"1..3.4", {1, 0, 3, 4}},
      {" 10 . 1 . 2 . 3 ", {10, 1, 2, 3}},
      {"1,0.0.0.1", {10, 0, 0, 1}},
      {"a.b.c.d", {0, 0, 0, 0}},
      {"99999999999.1.1.1", {255, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    EXPECT_EQ(ParseStoredAddress(c.text), c.expected);
  }
}

TEST(StoredAddress, FormatStoresAnAddressOnlyWhenTheFirstFieldIsSet) {
  const struct {
    AddressFields fields;
    QByteArray expected;
  } cases[] = {
      {{10, 1, 2, 3}, "10.1.2.3"},
      {{1, 0, 0, 0}, "1.0.0.0"},
      {{255, 255, 255, 255}, "255.255.255.255"},
      {{0, 1, 2, 3}, ""},
      {{-1, 1, 2, 3}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatEnteredAddress(c.fields), c.expected);
    if (!c.expected.isEmpty()) {
      EXPECT_EQ(ParseStoredAddress(c.expected), c.fields);
    }
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "core/db/calldatabase.h"

namespace {

struct CallTextCase {
  const char* name;
  int centerId;
  QByteArray caller;
  QByteArray inboundTail;
  QByteArray accountExt;
  std::string expected;
};

TEST(CallText, PlacesEachValueBetweenQuotesWithQuotesDoubled) {
  const CallTextCase cases[] = {
      {"plain", 7, "01012345678", "1234", "5678",
       "{Call cid_CallInWrite(7,'01012345678','1234','5678')}"},
      {"empty values", 1, "", "", "", "{Call cid_CallInWrite(1,'','','')}"},
      {"quote in each value", 12, "010'1", "'", "''",
       "{Call cid_CallInWrite(12,'010''1','''','''''')}"},
      {"closing the call early", 3, "1'); DROP TABLE calls; --", "1", "2",
       "{Call cid_CallInWrite(3,'1''); DROP TABLE calls; --','1','2')}"},
      {"backslash and escape braces stay", 3, "a\\'b", "{fn x}", "?",
       "{Call cid_CallInWrite(3,'a\\''b','{fn x}','?')}"},
      {"CP949 bytes unchanged", 5, "\xb0\xa1\xb3\xaa", "\xc7\xa5", "1",
       "{Call cid_CallInWrite(5,'\xb0\xa1\xb3\xaa','\xc7\xa5','1')}"},
      {"value ends at NUL", 5, QByteArray("123\0'); --", 10), QByteArray("\0", 1), "9",
       "{Call cid_CallInWrite(5,'123','','9')}"},
      {"negative centre", -1, "0", "0", "0", "{Call cid_CallInWrite(-1,'0','0','0')}"},
  };
  for (const CallTextCase& c : cases) {
    EXPECT_EQ(BuildCallText(c.centerId, c.caller, c.inboundTail, c.accountExt), c.expected)
        << c.name;
  }
}

TEST(CallText, DefaultConnectionStringHasTheFiveKeysInOrder) {
  const std::string text = DefaultConnectionString();
  EXPECT_EQ(text.rfind("DRIVER={SQL Server};SERVER=", 0), 0u) << text;
  std::size_t at = 0;
  for (const char* key : {"SERVER=", ",8033;UID=", ";PWD=", ";DATABASE="}) {
    const std::size_t next = text.find(key, at);
    ASSERT_NE(next, std::string::npos) << key;
    at = next;
  }
  EXPECT_EQ(text.back(), ';');
  const std::size_t pwd = text.find("PWD=") + 4;
  const std::string password = text.substr(pwd, text.find(';', pwd) - pwd);
  ASSERT_EQ(password.size(), 11u);
  EXPECT_EQ(std::count_if(password.begin(), password.end(), ::isalpha), 10);
  EXPECT_EQ(std::count_if(password.begin(), password.end(), ::ispunct), 1);
}

}  // namespace

// What the relay makes of a client's bytes (the text of one read, its
// leading number, the filed registration) and what it builds from a call
// notice for its clients (the 24-byte record and the two LDK505 lines).
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "support/fuzzcheck.h"

namespace {

void CheckRegistration(const QByteArray& bytes) {
  const QByteArray text = ReceivedText(bytes);
  FUZZ_CHECK(!text.contains('\0') && bytes.startsWith(text));
  FUZZ_CHECK(text.size() == bytes.size() || bytes.at(text.size()) == '\0');

  // atoi: strtol's reading, saturated to 32 bits.
  const long long expected = std::strtoll(std::string(text.constData()).c_str(), nullptr, 10);
  FUZZ_CHECK(LeadingInt(text) == std::clamp<long long>(expected, std::numeric_limits<qint32>::min(),
                                                       std::numeric_limits<qint32>::max()));

  const QByteArray filed = CutRegistrationText(text);
  FUZZ_CHECK(filed.size() == qMin<qsizetype>(text.size(), kMaxRegistrationBytes));
  FUZZ_CHECK(text.startsWith(filed));
}

QByteArray Printf(const char* format, qint32 a, qint32 b = 0) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof(buffer), format, a, b);
  return QByteArray(buffer, n);
}

void CheckNotice(qint32 accountExt, qint32 inExten, const QByteArray& caller, qint32 state) {
  const CallNotice notice = MakeCallNotice(accountExt, inExten, caller, state);
  const QByteArray record = EncodeCallNotice(notice);
  FUZZ_CHECK(record.size() == kCallNoticeSize);
  FUZZ_CHECK(qFromLittleEndian<qint32>(record.constData()) == accountExt);
  FUZZ_CHECK(qFromLittleEndian<qint32>(record.constData() + 4) == inExten);
  FUZZ_CHECK(qFromLittleEndian<qint32>(record.constData() + 20) == state);

  // The caller's number: its first 11 bytes up to a NUL, then zeros only.
  const QByteArray expectedCaller = caller.left(11);
  const QByteArray callerField = record.mid(8, 12);
  const QByteArray callerText = CallerIdText(notice);
  FUZZ_CHECK(callerText == ReceivedText(expectedCaller));
  FUZZ_CHECK(callerField.startsWith(callerText));
  FUZZ_CHECK(callerField.mid(callerText.size()).count('\0') == 12 - callerText.size());

  // The LDK505 lines: the line number is inExten % 1000 with its sign, padded
  // by value with "00" below 10 and "0" below 100.
  const qint32 n = inExten % 1000;
  const QByteArray head = Printf(n < 10 ? "00%d" : n < 100 ? "0%d" : "%d", n) + " : " + callerText;
  FUZZ_CHECK(LdkRingLine(notice) == '\x07' + head + '\n');
  FUZZ_CHECK(LdkNoticeLine(notice) ==
             "\x06\x06" + head + " ->  " + Printf("%d", accountExt) + '\n');
  FUZZ_CHECK(NoticeColumnText(notice) == Printf("%d-%d", accountExt, inExten));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const qint32 accountExt = input.ConsumeIntegral<qint32>();
  const qint32 inExten = input.ConsumeIntegral<qint32>();
  const qint32 state = input.ConsumeIntegral<qint32>();
  const std::string caller = input.ConsumeRandomLengthString(20);
  CheckNotice(accountExt, inExten, QByteArray(caller.data(), qsizetype(caller.size())), state);

  // One read of the relay takes at most 4095 bytes.
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray bytes(rest.data(), qMin<qsizetype>(qsizetype(rest.size()), kMaxReceiveBytes));
  CheckRegistration(bytes);
  return 0;
}

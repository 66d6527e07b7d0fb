// The event text lookups on any bytes from the telephony server: the keyed
// field lookup with the keys the handlers use, the lenient integer parse, the
// tail cut and the character-aware search, each against a plain reference.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"
#include "support/fuzzcheck.h"

namespace {

struct Lookup {
  const char* key;
  int gap;
  char terminator;
};

// As the sign-in and call handlers ask.
constexpr Lookup kLookups[] = {
    {"STATUS", 1, '|'},  {"MSG", 1, ','},       {"ISDIAL", 1, '|'},        {"CALLERID", 1, '|'},
    {"INEXTEN", 1, '|'}, {"CALLER1ID", 1, '|'}, {"CHANNEL1:SIP/", 0, '-'},
};

bool IsTrailByte(unsigned char b) {
  return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE);
}

// Walks every character start one by one.
qsizetype ReferenceFind(const QByteArray& haystack, const QByteArray& needle, qsizetype from) {
  qsizetype step = 1;
  for (qsizetype i = 0; i <= haystack.size(); i += step) {
    const bool pair = i + 1 < haystack.size() && IsCp949LeadByte(haystack.at(i)) &&
                      IsTrailByte(haystack.at(i + 1));
    step = pair ? 2 : 1;
    if (i >= from && QByteArrayView(haystack).sliced(i).startsWith(needle)) return i;
  }
  return -1;
}

void CheckFieldLookup(const QByteArray& text, const QByteArray& key, int gap, char terminator) {
  const qsizetype p = ReferenceFind(text, key, 0);
  const qsizetype e = p < 0 ? -1 : ReferenceFind(text, QByteArray(1, terminator), p);
  FUZZ_CHECK(Cp949Find(text, key) == p);
  if (p >= 0) FUZZ_CHECK(Cp949Find(text, QByteArray(1, terminator), p) == e);
  // Mid(start, count) of the text, a negative start counting as 0.
  const qint64 start = qint64(p) + key.size() + gap;
  const qint64 count = qint64(e) - start;
  const qint64 first = qMax<qint64>(start, 0);
  const QByteArray cut = count <= 0 || first >= text.size() ? QByteArray() : text.mid(first, count);
  const QByteArray expected = cut.split('\0').first();
  FUZZ_CHECK(GetEventField(text, key, gap, terminator) == expected);
  // A value never holds its terminator, unless the terminator can be the second byte of a
  // character (never one the system uses).
  if (gap >= 0 && !key.isEmpty() && !IsTrailByte(terminator)) {
    FUZZ_CHECK(!expected.contains(terminator));
  }
}

// What atoi-like parsing after dropping ',', '-' and ')' gives, with the sign
// of a leading '-', saturated to 32 bits.
qint32 ReferenceLooseInt(const QByteArray& text) {
  std::string rest;
  for (char c : text) {
    if (c != ',' && c != '-' && c != ')') rest.push_back(c);
  }
  long long value = std::strtoll(rest.c_str(), nullptr, 10);
  if (text.startsWith('-')) value = -value;  // rest holds no '-', so value >= 0
  return qint32(std::clamp<long long>(value, std::numeric_limits<qint32>::min(),
                                      std::numeric_limits<qint32>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int choice = input.ConsumeIntegralInRange<int>(0, std::size(kLookups));
  const int gap = input.ConsumeIntegralInRange<int>(-4, 4);
  const char terminator = input.ConsumeIntegral<char>();
  const qsizetype from = input.ConsumeIntegralInRange<int>(-2, 300);
  const qsizetype tail = input.ConsumeIntegralInRange<int>(-2, 300);
  const std::string keyBytes = input.ConsumeRandomLengthString(16);
  const std::string textBytes = input.ConsumeRemainingBytesAsString();
  const QByteArray text(textBytes.data(), qsizetype(textBytes.size()));

  for (const Lookup& lookup : kLookups) {
    CheckFieldLookup(text, lookup.key, lookup.gap, lookup.terminator);
  }
  if (choice == std::size(kLookups)) {
    CheckFieldLookup(text, QByteArray(keyBytes.data(), qsizetype(keyBytes.size())), gap,
                     terminator);
  }

  // A needle from the text itself finds something far more often than a random one.
  const QByteArray needle = keyBytes.empty()
                                ? text.mid(qMax<qsizetype>(from, 0), 2)
                                : QByteArray(keyBytes.data(), qsizetype(keyBytes.size()));
  FUZZ_CHECK(Cp949Find(text, needle, from) == ReferenceFind(text, needle, from));

  FUZZ_CHECK(ParseLooseInt(text) == ReferenceLooseInt(text));

  const QByteArray last = LastBytes(text, tail);
  FUZZ_CHECK(last.size() == std::clamp<qsizetype>(tail, 0, text.size()) && text.endsWith(last));

  // The numbers the handlers take from event values stay in their ranges.
  const qint32 inExten = ParseLooseInt(LastBytes(GetEventField(text, "INEXTEN", 1, '|'), 4));
  FUZZ_CHECK(inExten >= -9999 && inExten <= 9999);
  const qint32 extension = ParseLooseInt(LastBytes(GetEventField(text, "MSG", 1, ','), 3));
  FUZZ_CHECK(extension >= -999 && extension <= 999);
  return 0;
}

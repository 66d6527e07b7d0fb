// CP949 at the edges: bytes from clients and the telephony server decoded
// and encoded back, and any UTF-16 text (as event texts arrive) encoded and
// decoded back.
#include <QByteArray>
#include <QList>
#include <QString>

#include "core/text/cp949.h"
#include "support/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

  // Every byte gives at most one UTF-16 unit; text that decoded without a
  // replacement character encodes back to the same bytes.
  const QString decoded = FromCp949(bytes);
  FUZZ_CHECK(decoded.size() <= bytes.size());
  FUZZ_CHECK(decoded.isEmpty() == bytes.isEmpty());
  if (!decoded.contains(QChar(0xFFFD))) FUZZ_CHECK(ToCp949(decoded) == bytes);

  // The same bytes as UTF-16, lone surrogates and all: each character comes
  // back as itself or as "?", never lost, doubled or changed into another.
  QString text(qsizetype(size / 2), Qt::Uninitialized);
  for (qsizetype i = 0; i < text.size(); ++i) {
    text[i] = QChar(char16_t(data[2 * i] | (data[2 * i + 1] << 8)));
  }
  const QList<uint> original = text.toUcs4();
  const QByteArray encoded = ToCp949(text);
  FUZZ_CHECK(encoded.size() <= 2 * original.size());
  const QList<uint> back = FromCp949(encoded).toUcs4();
  FUZZ_CHECK(back.size() == original.size());
  for (qsizetype i = 0; i < back.size(); ++i) {
    FUZZ_CHECK(back[i] == original[i] || back[i] == '?');
  }
  return 0;
}

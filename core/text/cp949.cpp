#include "core/text/cp949.h"

#include <iconv.h>
#include <QList>
#include <QtGlobal>
#include <cerrno>
#include <cstring>

namespace {

// QString stores UTF-16 in host byte order; iconv needs the order spelled out.
constexpr const char* kUtf16 = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "UTF-16LE" : "UTF-16BE";
// glibc's own UCS-4, host order. Encoding from it takes one step; from UTF-16
// it takes two, and then locating each unconvertible character costs iconv
// thousands of characters of work (a text full of emoji took seconds).
constexpr const char* kUcs4 = "WCHAR_T";
static_assert(sizeof(wchar_t) == sizeof(char32_t));
// glibc knows CP949 as an alias of its UHC module.
constexpr const char* kCp949 = "CP949";

constexpr char16_t kReplacementChar = u'\uFFFD';

// One descriptor per direction and thread, opened on first use: conversions
// run for every telephony event, and iconv_open is far dearer than a reset.
class Converter {
 public:
  Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
    if (!IsOpen()) qCritical("iconv cannot convert from %s to %s", from, to);
  }
  ~Converter() {
    if (IsOpen()) iconv_close(m_cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts all of input. Where iconv refuses (an unconvertible or invalid
  // character), skip(pos) gives the input bytes of that one character and
  // replacement stands in for them. Without a descriptor every character is refused.
  template <typename Skip>
  QByteArray Run(QByteArrayView input, qsizetype outputGuess, QByteArrayView replacement,
                 Skip skip) {
    // iconv is fed in bounded pieces: both glibc (locating a refused character
    // after two steps) and sanitizers (checking the input) pay per call for
    // all the input handed over, which a text full of refusals makes quadratic.
    constexpr qsizetype kPiece = 1024;
    QByteArray out(qMax<qsizetype>(outputGuess, 16), Qt::Uninitialized);
    qsizetype used = 0;
    qsizetype pos = 0;
    if (IsOpen()) iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    while (pos < input.size()) {
      const qsizetype pieceEnd = qMin(pos + kPiece, input.size());
      // iconv takes char** for its input but never writes through it.
      char* in = const_cast<char*>(input.data() + pos);
      size_t inLeft = static_cast<size_t>(pieceEnd - pos);
      char* o = out.data() + used;
      size_t outLeft = static_cast<size_t>(out.size() - used);
      const size_t result =
          IsOpen() ? iconv(m_cd, &in, &inLeft, &o, &outLeft) : static_cast<size_t>(-1);
      const int error = IsOpen() ? errno : EILSEQ;
      pos = in - input.data();
      used = o - out.data();
      if (result != static_cast<size_t>(-1)) continue;
      // A character cut by the end of the piece is whole in the next one.
      if (error == EINVAL && pieceEnd < input.size()) continue;
      if (error == E2BIG || out.size() - used < replacement.size()) {
        out.resize(out.size() * 2);
        continue;
      }
      std::memcpy(out.data() + used, replacement.data(), size_t(replacement.size()));
      used += replacement.size();
      pos += skip(pos);
      if (IsOpen()) iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(used);
    return out;
  }

 private:
  bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  iconv_t m_cd;
};

Converter& Encoder() {
  thread_local Converter converter(kCp949, kUcs4);
  return converter;
}

Converter& Decoder() {
  thread_local Converter converter(kUtf16, kCp949);
  return converter;
}

bool IsCp949TrailByte(unsigned char byte) {
  return (byte >= 0x41 && byte <= 0x5A) || (byte >= 0x61 && byte <= 0x7A) ||
         (byte >= 0x81 && byte <= 0xFE);
}

// Bytes of the character at pos: a lead byte with a trail byte after it makes
// two, anything else (a lead byte at the end included) stands alone.
qsizetype CharLength(QByteArrayView bytes, qsizetype pos) {
  const bool pair = pos + 1 < bytes.size() && IsCp949LeadByte(bytes.at(pos)) &&
                    IsCp949TrailByte(bytes.at(pos + 1));
  return pair ? 2 : 1;
}

}  // namespace

bool IsCp949LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

QByteArray ToCp949(const QString& text) {
  if (text.isEmpty()) return {};
  // A surrogate pair becomes one character, a lone surrogate U+FFFD: each then one "?".
  const QList<uint> ucs4 = text.toUcs4();
  const QByteArrayView input(reinterpret_cast<const char*>(ucs4.constData()),
                             ucs4.size() * qsizetype(sizeof(uint)));
  const auto skip = [](qsizetype) { return qsizetype(sizeof(uint)); };
  // Every character gives at most two CP949 bytes.
  return Encoder().Run(input, ucs4.size() * 2, "?", skip);
}

QString FromCp949(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  const QByteArrayView replacement(reinterpret_cast<const char*>(&kReplacementChar),
                                   sizeof(kReplacementChar));
  const auto skip = [&bytes](qsizetype pos) { return CharLength(bytes, pos); };
  // Every byte gives at most one UTF-16 unit.
  const QByteArray utf16 =
      Decoder().Run(bytes, bytes.size() * qsizetype(sizeof(char16_t)), replacement, skip);
  return QString(reinterpret_cast<const QChar*>(utf16.constData()),
                 utf16.size() / qsizetype(sizeof(char16_t)));
}

qsizetype Cp949Find(const QByteArray& haystack, const QByteArray& needle, qsizetype from) {
  from = qMax<qsizetype>(from, 0);
  if (from > haystack.size()) return -1;
  // boundary, a known character start, only moves forward, and the byte before
  // a run of lead bytes always ends a character, so a walk starts at that run:
  // each byte is looked at a bounded number of times whatever the text holds.
  qsizetype boundary = 0;
  const auto advanceTo = [&](qsizetype pos) {
    qsizetype runStart = pos;
    while (runStart > boundary && IsCp949LeadByte(haystack.at(runStart - 1))) --runStart;
    boundary = runStart;
    while (boundary < pos) boundary += CharLength(haystack, boundary);
  };
  advanceTo(from);
  for (;;) {
    const qsizetype hit = haystack.indexOf(needle, boundary);
    if (hit < 0) return -1;
    advanceTo(hit);
    if (boundary == hit) return hit;
  }
}

// The telephony line protocol on any bytes from the server: the line reader
// however the stream is cut into reads, the line decoder, and the escapes
// of any fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>
#include <string>

#include "core/telephony/telprotocol.h"
#include "support/fuzzcheck.h"

namespace {

// Complete lines of stream no longer than maxLineBytes, in order.
QList<QByteArray> ReferenceLines(const QByteArray& stream, qsizetype maxLineBytes) {
  QList<QByteArray> lines = stream.split('\n');
  lines.removeLast();  // not ended by LF (empty when the stream ends with one)
  lines.removeIf([&](const QByteArray& line) { return line.size() > maxLineBytes; });
  return lines;
}

// A field is well-formed when every backslash starts one of \\ \t \n \r.
bool ReferenceWellFormed(QByteArrayView line) {
  if (line.endsWith('\r')) line.chop(1);
  for (qsizetype i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') continue;
    if (++i == line.size()) return false;
    const char next = line[i];
    if (next != '\\' && next != 't' && next != 'n' && next != 'r') return false;
  }
  return true;
}

void CheckLine(const QByteArray& line) {
  const std::optional<QList<QByteArray>> fields = DecodeTelLine(line);
  FUZZ_CHECK(fields.has_value() == ReferenceWellFormed(line));
  if (!fields) return;
  QByteArrayView body(line);
  if (body.endsWith('\r')) body.chop(1);
  FUZZ_CHECK(fields->size() == body.count('\t') + 1);
  // The canonical form decodes to the same fields.
  QByteArray encoded = EncodeTelLine(*fields);
  FUZZ_CHECK(encoded.endsWith('\n') && encoded.count('\n') == 1);
  encoded.chop(1);
  FUZZ_CHECK(DecodeTelLine(encoded) == fields);
  for (const QByteArray& field : *fields) FUZZ_CHECK(!DecodeTelText(field).isNull());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // Small bounds reach the dropping of long lines with short inputs.
  const qsizetype maxLineBytes =
      input.ConsumeBool() ? kTelMaxLineBytes : input.ConsumeIntegralInRange<int>(0, 64);
  const int cuts = input.ConsumeIntegralInRange<int>(0, 8);
  QList<size_t> cutSizes;
  for (int i = 0; i < cuts; ++i) cutSizes.append(input.ConsumeIntegralInRange<size_t>(0, 64));
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray stream(rest.data(), qsizetype(rest.size()));

  // Read whole, or in pieces: the same lines.
  TelLineReader whole(maxLineBytes);
  const QList<QByteArray> lines = whole.Feed(stream);
  FUZZ_CHECK(lines == ReferenceLines(stream, maxLineBytes));
  TelLineReader pieces(maxLineBytes);
  QList<QByteArray> pieceLines;
  QByteArrayView left(stream);
  for (size_t cut : cutSizes) {
    const qsizetype n = qMin<qsizetype>(qsizetype(cut), left.size());
    pieceLines += pieces.Feed(left.first(n));
    left = left.sliced(n);
  }
  pieceLines += pieces.Feed(left);
  FUZZ_CHECK(pieceLines == lines);

  // A reset forgets the partial line: what follows reads as a fresh stream.
  pieces.Reset();
  FUZZ_CHECK(pieces.Feed(stream) == lines);

  for (const QByteArray& line : lines) CheckLine(line);

  // Any fields, tabs and line ends included, survive one encoded line.
  const QList<QByteArray> fields = stream.split('\x1f');
  const QByteArray encoded = EncodeTelLine(fields);
  TelLineReader reader;
  const QList<QByteArray> read = reader.Feed(encoded);
  if (encoded.size() - 1 <= kTelMaxLineBytes) {
    FUZZ_CHECK(read.size() == 1 && DecodeTelLine(read.first()) == fields);
  }
  return 0;
}

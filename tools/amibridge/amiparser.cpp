#include "tools/amibridge/amiparser.h"

#include <utility>

QList<AmiMessage> AmiParser::Feed(QByteArrayView bytes) {
  QList<AmiMessage> done;
  while (!bytes.isEmpty()) {
    const qsizetype lineFeed = bytes.indexOf('\n');
    if (lineFeed < 0) {
      AddToLine(bytes);
      break;
    }
    AddToLine(bytes.first(lineFeed));
    bytes = bytes.sliced(lineFeed + 1);
    EndLine(done);
  }
  return done;
}

void AmiParser::Reset() { *this = AmiParser(m_nMaxBlockBytes); }

int AmiParser::TakeDroppedBlocks() { return std::exchange(m_nDroppedBlocks, 0); }

void AmiParser::AddToLine(QByteArrayView piece) {
  if (piece.isEmpty()) {
    return;
  }
  // One byte more for the CR of a CRLF.
  if (!m_bDiscarding && m_line.size() + piece.size() > m_nMaxBlockBytes + 1) {
    StartDiscarding();
  }
  if (m_bDiscarding) {
    if (m_nDiscardLineBytes == 0) {
      m_cDiscardLineFirst = piece.front();
    }
    m_nDiscardLineBytes += piece.size();
    return;
  }
  m_line.append(piece);
}

void AmiParser::StartDiscarding() {
  m_bDiscarding = true;
  m_nDiscardLineBytes = m_line.size();
  m_cDiscardLineFirst = m_line.isEmpty() ? '\0' : m_line.front();
  m_line.clear();
  m_block = AmiMessage();
  m_nBlockBytes = 0;
  ++m_nDroppedBlocks;
}

void AmiParser::EndLine(QList<AmiMessage>& done) {
  if (m_bDiscarding) {
    const bool empty =
        m_nDiscardLineBytes == 0 || (m_nDiscardLineBytes == 1 && m_cDiscardLineFirst == '\r');
    m_nDiscardLineBytes = 0;
    m_bDiscarding = !empty;
    return;
  }
  QByteArray line = std::exchange(m_line, QByteArray());
  if (line.endsWith('\r')) {
    line.chop(1);
  }
  if (m_bAwaitingGreeting) {
    m_bAwaitingGreeting = false;
    m_greeting = line;
    return;
  }
  if (line.isEmpty()) {
    if (!m_block.IsEmpty()) {
      done.append(std::exchange(m_block, AmiMessage()));
    }
    m_nBlockBytes = 0;
    return;
  }
  m_nBlockBytes += line.size();
  if (m_nBlockBytes > m_nMaxBlockBytes) {
    StartDiscarding();
    m_nDiscardLineBytes = 0;
    return;
  }
  const qsizetype colon = line.indexOf(':');
  const QByteArray key = colon < 0 ? QByteArray() : line.first(colon).trimmed();
  if (key.isEmpty()) {
    return;
  }
  QByteArray value = line.sliced(colon + 1);
  if (value.startsWith(' ')) {
    value.remove(0, 1);
  }
  m_block.Append(key, value);
}

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include "tools/amibridge/amimessage.h"

// A block whose header lines (without line ends) add up to more than this is dropped whole, however
// long it runs, so that a broken peer cannot make the bridge buffer without end.
constexpr qsizetype kAmiMaxBlockBytes = 64 * 1024;

// Cuts the byte stream of an AMI connection into messages. The first line of
// a connection is the PBX's greeting ("Asterisk Call Manager/<version>"),
// then come blocks of "Key: Value" lines ended by an empty line. Lines end in
// CRLF or LF; values may hold any other byte. A line without ":" is skipped.
class AmiParser {
 public:
  explicit AmiParser(qsizetype maxBlockBytes = kAmiMaxBlockBytes)
      : m_nMaxBlockBytes(maxBlockBytes) {}

  // The messages completed by bytes.
  QList<AmiMessage> Feed(QByteArrayView bytes);
  // Starts over, as for a new connection: the next line is a greeting again.
  void Reset();

  // Empty until the greeting line has come.
  const QByteArray& Greeting() const { return m_greeting; }
  // How many blocks were dropped for their size since the last call.
  int TakeDroppedBlocks();

 private:
  void AddToLine(QByteArrayView piece);
  void EndLine(QList<AmiMessage>& done);
  void StartDiscarding();

  qsizetype m_nMaxBlockBytes;
  bool m_bAwaitingGreeting = true;
  QByteArray m_greeting;
  QByteArray m_line;
  AmiMessage m_block;
  qsizetype m_nBlockBytes = 0;
  // Skipping an oversized block up to its empty line; only the current
  // line's length and first byte are kept, to tell the empty line.
  bool m_bDiscarding = false;
  qsizetype m_nDiscardLineBytes = 0;
  char m_cDiscardLineFirst = 0;
  int m_nDroppedBlocks = 0;
};

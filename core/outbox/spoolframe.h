#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// A spooled record on disk: magic "TVXR", CRC-32 of everything after it,
// payload length, sequence number (little-endian), then the payload. The
// magic lets a reader find the next frame after damaged bytes.
constexpr qsizetype kSpoolFrameHeaderSize = 20;
constexpr qsizetype kMaxSpoolPayloadSize = 64 * 1024;

QByteArray EncodeSpoolFrame(quint64 sequence, QByteArrayView payload);

struct SpoolFrame {
  quint64 sequence = 0;
  qsizetype offset = 0;
  qsizetype size = 0;  // header included
  QByteArray payload;
};

struct SpoolScan {
  QList<SpoolFrame> frames;      // every intact frame, in file order
  QList<QByteArray> unreadable;  // stretches between and after them that hold no intact frame
};

// Reads a whole spool file. A torn last frame shows up as an unreadable end.
SpoolScan ScanSpool(QByteArrayView bytes);

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

enum class CallEventKind { Ring, Answer, End };

// One call event of an account, as the telephony side read it; every
// output of the relay receives this value.
struct CallEvent {
  CallEventKind kind = CallEventKind::Ring;
  int slot = 0;          // 0 to 59
  qint32 extension = 0;  // the account's own extension, from its last login result
  QByteArray caller;     // CP949, empty when the text has none
  QByteArray inbound;    // the extension that rang (INEXTEN)
  QByteArray callId;     // UNIQUEID when the text has one
  bool dialled = false;  // the account placed the call itself
  QDateTime time;        // local time of the event
  QByteArray text;       // the whole event text, CP949
};

#pragma once

#include <QHash>
#include <QHostAddress>

// Slows guessing down: after a few failed sign-ins from one address every
// answer to that address waits, twice as long with each further failure,
// and the answers to one address go out one after another, so that many
// connections from it gain nothing. Other addresses are not held up. A
// success, or a quiet spell, forgets the address.
class SignInThrottle {
 public:
  static constexpr int kFreeFailures = 5;
  static constexpr qint64 kFirstDelayMs = 1000;
  static constexpr qint64 kMaxDelayMs = 30000;
  static constexpr qint64 kForgetAfterMs = 15 * 60 * 1000;

  // When the answer to a sign-in from address, arriving at nowMs, may go out.
  qint64 AnswerTime(const QHostAddress& address, qint64 nowMs);
  // Counts a failure; returns the failures in a row from address.
  int NoteFailure(const QHostAddress& address, qint64 nowMs);
  void NoteSuccess(const QHostAddress& address);
  // Whether the failure with this count deserves a journal line: the first
  // few, then ever more rarely.
  static bool WorthALine(int failures);

 private:
  struct Record {
    int failures = 0;
    qint64 lastFailureMs = 0;
    qint64 nextAnswerMs = 0;
  };
  void ForgetQuiet(qint64 nowMs);

  QHash<QHostAddress, Record> m_records;
};

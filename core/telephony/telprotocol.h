#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// The line protocol between a telephony control and the telephony server
// (docs/telephony-protocol.md): UTF-8 lines ended by LF, fields separated by
// TAB, and backslash escapes inside fields so that a field can hold any text.

constexpr quint16 kDefaultTelephonyPort = 7050;
// Longer lines are dropped whole, so a broken peer cannot make us buffer without end.
constexpr qsizetype kTelMaxLineBytes = 64 * 1024;

// Control to server.
constexpr QByteArrayView kTelLogin = "LOGIN";
constexpr QByteArrayView kTelLoginDcs = "LOGINDCS";
constexpr QByteArrayView kTelLogout = "LOGOUT";
// Server to control: EVENT, then one of the four event names, then the text.
constexpr QByteArrayView kTelEvent = "EVENT";
constexpr QByteArrayView kTelLoginResult = "LoginResult";
constexpr QByteArrayView kTelRing = "Ring";
constexpr QByteArrayView kTelHangUp = "HangUp";
constexpr QByteArrayView kTelCallEnd = "CallEnd";

// Backslash, TAB, LF and CR become \\, \t, \n and \r; every other byte stays.
QByteArray EscapeTelField(QByteArrayView field);
// The inverse; nothing when the field holds any other escape or ends in a lone backslash.
std::optional<QByteArray> UnescapeTelField(QByteArrayView field);

// One whole line, LF included.
QByteArray EncodeTelLine(const QList<QByteArray>& fields);
// The fields of a line given without its LF (a CR before the LF is dropped);
// nothing when a field is malformed.
std::optional<QList<QByteArray>> DecodeTelLine(QByteArrayView line);

// A text field as UTF-16. Never null, even when empty: a null text is one
// whose field is missing.
QString DecodeTelText(const QByteArray& utf8);

// Cuts a byte stream into lines. A line longer than the bound is dropped up
// to its LF, however long it runs, and never held in memory.
class TelLineReader {
 public:
  explicit TelLineReader(qsizetype maxLineBytes = kTelMaxLineBytes)
      : m_nMaxLineBytes(maxLineBytes) {}

  // The lines completed by bytes, without their LF.
  QList<QByteArray> Feed(QByteArrayView bytes);
  // Forgets a partial line, as when its connection ends.
  void Reset();

 private:
  qsizetype m_nMaxLineBytes;
  QByteArray m_pending;
  bool m_bDiscarding = false;
};

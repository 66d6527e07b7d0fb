#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable Qt strings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
  *out << '"' << bytes.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
  return out << text.toStdString();
}

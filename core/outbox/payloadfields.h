#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

// The fields of a record in an outbox: numbers little-endian, texts after
// their length.
template <typename T>
void AppendLittleEndian(QByteArray& bytes, T value) {
  char buffer[sizeof(T)];
  qToLittleEndian(value, buffer);
  bytes.append(buffer, sizeof(T));
}

inline void AppendText(QByteArray& bytes, QByteArrayView text) {
  AppendLittleEndian<quint32>(bytes, quint32(text.size()));
  bytes += text;
}

// Reads fields front to back; any read past the end spoils the whole decode.
class PayloadReader {
 public:
  explicit PayloadReader(QByteArrayView bytes) : m_bytes(bytes) {}

  template <typename T>
  T Read() {
    if (!Has(sizeof(T))) return T{};
    const T value = qFromLittleEndian<T>(m_bytes.data() + m_at);
    m_at += sizeof(T);
    return value;
  }
  QByteArray ReadText() {
    const quint32 length = Read<quint32>();
    if (!Has(length)) return {};
    const QByteArray text = m_bytes.sliced(m_at, length).toByteArray();
    m_at += length;
    return text;
  }
  bool AtCleanEnd() const { return m_ok && m_at == m_bytes.size(); }

 private:
  bool Has(qsizetype count) {
    m_ok = m_ok && count <= m_bytes.size() - m_at;
    return m_ok;
  }

  QByteArrayView m_bytes;
  qsizetype m_at = 0;
  bool m_ok = true;
};

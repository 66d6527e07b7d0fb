#include "core/db/callrecord.h"

#include <QtEndian>

#include "core/text/cp949.h"

namespace {

template <typename T>
void AppendLittleEndian(QByteArray& bytes, T value) {
  char buffer[sizeof(T)];
  qToLittleEndian(value, buffer);
  bytes.append(buffer, sizeof(T));
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

}  // namespace

QByteArray EncodeCallRecord(const CallRecord& record) {
  QByteArray bytes;
  AppendLittleEndian<qint32>(bytes, record.centerId);
  AppendLittleEndian<qint64>(bytes, record.callTimeMs);
  for (const QByteArray* text : {&record.caller, &record.inboundTail, &record.accountExt}) {
    AppendLittleEndian<quint32>(bytes, quint32(text->size()));
    bytes += *text;
  }
  return bytes;
}

std::optional<CallRecord> DecodeCallRecord(QByteArrayView payload) {
  PayloadReader reader(payload);
  CallRecord record;
  record.centerId = reader.Read<qint32>();
  record.callTimeMs = reader.Read<qint64>();
  record.caller = reader.ReadText();
  record.inboundTail = reader.ReadText();
  record.accountExt = reader.ReadText();
  if (!reader.AtCleanEnd()) return std::nullopt;
  return record;
}

namespace {

QByteArray RecordFailurePrefix() { return ToCp949(QStringLiteral("DB 기록 실패: ")); }

}  // namespace

bool IsRecordFailureLine(QByteArrayView line) { return line.startsWith(RecordFailurePrefix()); }

QByteArray RecordFailureLine(const CallRecord& record) {
  return RecordFailurePrefix() + record.caller + " => " + record.inboundTail + "[" +
         record.accountExt + "]";
}

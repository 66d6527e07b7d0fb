#include "core/text/jsonobjectwriter.h"

JsonObjectWriter::JsonObjectWriter() { m_text.reserve(320); }

void JsonObjectWriter::AddName(const char* name) {
  m_text += m_text.isEmpty() ? "{\"" : ",\"";
  m_text += name;
  m_text += "\":";
}

void JsonObjectWriter::AddNumber(const char* name, qint64 number) {
  AddName(name);
  m_text += QByteArray::number(number);
}

void JsonObjectWriter::AddBool(const char* name, bool truth) {
  AddName(name);
  m_text += truth ? "true" : "false";
}

void JsonObjectWriter::AddString(const char* name, QByteArrayView utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  AddName(name);
  m_text += '"';
  for (const char c : utf8) {
    switch (c) {
      case '"':
        m_text += "\\\"";
        break;
      case '\\':
        m_text += "\\\\";
        break;
      case '\b':
        m_text += "\\b";
        break;
      case '\f':
        m_text += "\\f";
        break;
      case '\n':
        m_text += "\\n";
        break;
      case '\r':
        m_text += "\\r";
        break;
      case '\t':
        m_text += "\\t";
        break;
      default:
        if (uchar(c) < 0x20) {
          const char escaped[] = {'\\', 'u', '0', '0', kHex[uchar(c) >> 4], kHex[uchar(c) & 15]};
          m_text.append(escaped, sizeof escaped);
        } else {
          m_text += c;
        }
    }
  }
  m_text += '"';
}

QByteArray JsonObjectWriter::Finish() {
  m_text += m_text.isEmpty() ? "{}" : "}";
  return std::move(m_text);
}

#include "tools/amibridge/amimessage.h"

#include <algorithm>

void AmiMessage::Append(const QByteArray& key, const QByteArray& value) {
  m_headers.append({key, value});
}

QByteArray AmiMessage::Value(QByteArrayView key) const {
  const auto header = std::find_if(m_headers.cbegin(), m_headers.cend(), [&](const auto& header) {
    return key.compare(header.first, Qt::CaseInsensitive) == 0;
  });
  return header == m_headers.cend() ? QByteArray() : header->second;
}

bool AmiMessage::Has(QByteArrayView key) const {
  return std::any_of(m_headers.cbegin(), m_headers.cend(), [&](const auto& header) {
    return key.compare(header.first, Qt::CaseInsensitive) == 0;
  });
}

QByteArray AmiMessage::Encode() const {
  QByteArray bytes;
  for (const auto& [key, value] : m_headers) {
    // A line break inside a value would end the header early, or the block.
    QByteArray flat = value;
    flat.replace('\r', ' ').replace('\n', ' ');
    bytes += key + ": " + flat + "\r\n";
  }
  return bytes + "\r\n";
}

AmiMessage AmiAction(std::initializer_list<std::pair<QByteArray, QByteArray>> headers) {
  AmiMessage action;
  for (const auto& [key, value] : headers) {
    action.Append(key, value);
  }
  return action;
}

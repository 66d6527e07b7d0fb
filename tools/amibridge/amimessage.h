#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <utility>

// One AMI message: the "Key: Value" lines of a block, in the order they came.
// Values are bytes as the PBX sent them.
class AmiMessage {
 public:
  void Append(const QByteArray& key, const QByteArray& value);
  // The first header of that name, whatever its case; empty when missing.
  QByteArray Value(QByteArrayView key) const;
  bool Has(QByteArrayView key) const;
  bool IsEmpty() const { return m_headers.isEmpty(); }
  const QList<std::pair<QByteArray, QByteArray>>& Headers() const { return m_headers; }

  // The event's name; empty for a response.
  QByteArray EventName() const { return Value("Event"); }

  // "Key: Value" lines ended by CRLF and the empty line that ends the block.
  QByteArray Encode() const;

  friend bool operator==(const AmiMessage&, const AmiMessage&) = default;

 private:
  QList<std::pair<QByteArray, QByteArray>> m_headers;
};

// An action as the PBX expects it, from (key, value) pairs.
AmiMessage AmiAction(std::initializer_list<std::pair<QByteArray, QByteArray>> headers);

#include "core/telephony/telprotocol.h"

#include <utility>

namespace {

// Each byte that travels escaped, and the letter that stands for it after a backslash.
struct Escape {
  char byte;
  char letter;
};
constexpr Escape kEscapes[] = {{'\\', '\\'}, {'\t', 't'}, {'\n', 'n'}, {'\r', 'r'}};

// The escape whose byte or letter (side says which) is value; null when none.
const Escape* FindEscape(char Escape::*side, char value) {
  for (const Escape& escape : kEscapes) {
    if (escape.*side == value) return &escape;
  }
  return nullptr;
}

}  // namespace

QByteArray EscapeTelField(QByteArrayView field) {
  QByteArray escaped;
  escaped.reserve(field.size());
  for (const char byte : field) {
    const Escape* escape = FindEscape(&Escape::byte, byte);
    if (!escape) {
      escaped.append(byte);
    } else {
      escaped.append('\\').append(escape->letter);
    }
  }
  return escaped;
}

std::optional<QByteArray> UnescapeTelField(QByteArrayView field) {
  QByteArray plain;
  plain.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      plain.append(field[i]);
      continue;
    }
    if (++i == field.size()) {
      return std::nullopt;
    }
    const Escape* escape = FindEscape(&Escape::letter, field[i]);
    if (!escape) {
      return std::nullopt;
    }
    plain.append(escape->byte);
  }
  return plain;
}

QByteArray EncodeTelLine(const QList<QByteArray>& fields) {
  QByteArray line;
  for (qsizetype i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      line.append('\t');
    }
    line.append(EscapeTelField(fields[i]));
  }
  line.append('\n');
  return line;
}

std::optional<QList<QByteArray>> DecodeTelLine(QByteArrayView line) {
  if (line.endsWith('\r')) {
    line.chop(1);
  }
  QList<QByteArray> fields;
  qsizetype start = 0;
  while (true) {
    const qsizetype tab = line.indexOf('\t', start);
    const QByteArrayView raw = line.sliced(start, (tab < 0 ? line.size() : tab) - start);
    std::optional<QByteArray> field = UnescapeTelField(raw);
    if (!field) {
      return std::nullopt;
    }
    fields.append(std::move(*field));
    if (tab < 0) {
      return fields;
    }
    start = tab + 1;
  }
}

QString DecodeTelText(const QByteArray& utf8) {
  const QString text = QString::fromUtf8(utf8);
  return text.isNull() ? QStringLiteral("") : text;
}

QList<QByteArray> TelLineReader::Feed(QByteArrayView bytes) {
  QList<QByteArray> lines;
  while (!bytes.isEmpty()) {
    const qsizetype lf = bytes.indexOf('\n');
    const QByteArrayView head = lf < 0 ? bytes : bytes.first(lf);
    if (!m_bDiscarding) {
      if (m_pending.size() + head.size() > m_nMaxLineBytes) {
        m_pending.clear();
        m_bDiscarding = true;
      } else {
        m_pending.append(head);
      }
    }
    if (lf < 0) {
      break;
    }
    if (!m_bDiscarding) {
      lines.append(std::exchange(m_pending, QByteArray()));
    }
    m_bDiscarding = false;
    bytes = bytes.sliced(lf + 1);
  }
  return lines;
}

void TelLineReader::Reset() {
  m_pending.clear();
  m_bDiscarding = false;
}

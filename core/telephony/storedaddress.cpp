#include "core/telephony/storedaddress.h"

#include "core/text/cp949.h"
#include "core/text/eventtext.h"

AddressFields ParseStoredAddress(const QByteArray& text) {
  AddressFields fields = {0, 0, 0, 0};
  const QByteArray dot(".");
  const qsizetype dot1 = Cp949Find(text, dot);
  if (dot1 <= 0) return fields;
  fields[0] = ParseLooseInt(text.left(dot1));
  const qsizetype dot2 = Cp949Find(text, dot, dot1 + 1);
  if (dot2 >= 0) {
    fields[1] = ParseLooseInt(text.mid(dot1 + 1, dot2 - dot1 - 1));
    const qsizetype dot3 = Cp949Find(text, dot, dot2 + 1);
    if (dot3 >= 0) {
      fields[2] = ParseLooseInt(text.mid(dot2 + 1, dot3 - dot2 - 1));
      // The last part takes all the rest, further dots included.
      fields[3] = ParseLooseInt(text.mid(dot3 + 1));
    }
  }
  // An address control holds bytes; two's complement makes -1 read as 255.
  for (int& field : fields) field &= 0xFF;
  return fields;
}

QByteArray FormatEnteredAddress(const AddressFields& fields) {
  if (fields[0] <= 0) return {};
  return QByteArray::number(fields[0]) + '.' + QByteArray::number(fields[1]) + '.' +
         QByteArray::number(fields[2]) + '.' + QByteArray::number(fields[3]);
}

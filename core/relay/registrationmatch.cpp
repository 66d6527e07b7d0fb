#include "core/relay/registrationmatch.h"

#include "core/text/cp949.h"

namespace {

// Digits are never the second byte of a CP949 character.
bool IsDigitAt(const QByteArray& text, qsizetype at) {
  return at >= 0 && at < text.size() && text.at(at) >= '0' && text.at(at) <= '9';
}

}  // namespace

bool RegistrationMatches(const QByteArray& text, const QByteArray& extension, bool wholeNumbers) {
  for (qsizetype at = Cp949Find(text, extension); at >= 0;
       at = Cp949Find(text, extension, at + 1)) {
    if (!wholeNumbers) return true;
    if (!IsDigitAt(text, at - 1) && !IsDigitAt(text, at + extension.size())) return true;
  }
  return false;
}

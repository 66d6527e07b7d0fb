#pragma once

#include <QByteArray>

// Whether a registration text names an extension: anywhere in the text, or,
// with wholeNumbers, only where no digit stands right before or after it
// ("301,302" then names 301 and 302, not 30 or 1).
bool RegistrationMatches(const QByteArray& text, const QByteArray& extension, bool wholeNumbers);

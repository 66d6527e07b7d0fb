#pragma once

#include <QByteArray>
#include <array>

using AddressFields = std::array<int, 4>;

// The four fields a stored server address shows as in the sign-in dialog,
// each cut to its low 8 bits ("10.1.2" gives 10.1.0.0, "abc" gives 0.0.0.0).
AddressFields ParseStoredAddress(const QByteArray& text);

// The address the dialog stores: "%d.%d.%d.%d", or empty unless the first field is above 0.
QByteArray FormatEnteredAddress(const AddressFields& fields);

#pragma once

#include "core/telephony/telbaseopenapi.h"

// Where an account shows: slot n belongs to control id 1028 + n and to row n
// of the accounts list, whose columns are these.
enum AccountColumn {
  kColumnId = 1,
  kColumnPassword = 2,
  kColumnExtension = 3,
  kColumnTime = 4,
  kColumnStatus = 5,
};

// The account slot of a telephony control id, or -1 for an id outside 1028 to 1087.
inline int SlotOfControl(int controlId) {
  const int slot = controlId - kFirstTelControlId;
  return slot >= 0 && slot < kTelControlCount ? slot : -1;
}

#pragma once

#include <QByteArray>
#include <QtGlobal>

// One telephone account; an empty user id means the slot is not configured.
struct AccountSlot {
  QByteArray m_strUID;
  QByteArray m_strPWD;
  QByteArray m_strServerIP;
  qint32 m_nExtension = 0;  // from the last login result
};

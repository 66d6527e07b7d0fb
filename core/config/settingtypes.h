#pragma once

#include <QtGlobal>

// The operator's choices that steer the relay, stored under SETTING as
// LOGTYPE, SENDTYPE and SERVERTYPE. A stored value outside these is kept
// and matches none of them.

// What the call log gets: the summary line, the whole event text, or nothing.
enum LogType : qint32 { kLogNumber = 0, kLogDebug = 1, kLogNone = 2 };

// When a call notice goes to the clients; "always" also records every call.
enum SendType : qint32 { kSendWhenRinging = 0, kSendWhenAnswered = 1, kSendAlways = 2 };

// Which sign-in the accounts use; IMS and IMS_DCS belong to the second
// control kind.
enum ServerType : qint32 { kServerCentrix = 0, kServerDcs = 1, kServerIms = 2, kServerImsDcs = 3 };

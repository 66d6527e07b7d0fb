#pragma once

#include <QJsonObject>

class CentrixCore;

// What an administrator's feed shows of the relay: each account slot in
// use and whether it is signed in, the legacy clients by kind, the call
// records and the events for the broker waiting, the webhooks failing or
// stopped, and the latest activity lines, newest first.
QJsonObject RelayStatus(const CentrixCore& core);

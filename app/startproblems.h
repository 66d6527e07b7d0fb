#pragma once

#include <QByteArray>
#include <QList>

class CentrixCore;

// What a started core could not set up while it still runs: a port it
// cannot listen on, a log file it cannot write. The window says nothing of
// them; headless they are errors on the journal (UTF-8 lines).
QList<QByteArray> StartProblems(const CentrixCore& core);

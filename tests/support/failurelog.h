#pragma once

#include <QByteArray>
#include <QString>

// What a failing test prints of the servers it ran, so that a CI log alone
// tells what they did in that case.

// True inside a test that has failed so far; false outside any test (a
// suite's set-up and tear-down).
bool InFailingTest();

// The last lines of log under a heading that names whose log it is.
void PrintLogTail(const QString& name, const QByteArray& log, int lines = 80);

#pragma once

#include <QString>

// A rename or a new file is only durable once its directory is synced too.
bool SyncDirectory(const QString& directory);

#pragma once

#include <sys/types.h>
#include <QString>

// Opens path for writing (flags without O_CREAT; it is added). A file this
// creates gets exactly mode, whatever the umask; an existing file loses the
// permission bits mode does not grant, and standard error says so once, when
// that happens. The relay's files hold callers' numbers and passwords.
// Returns the descriptor, or -1 with errno set.
int OpenPrivateFile(const QString& path, int flags, mode_t mode);

// Creates the directory path with its missing parents, like QDir::mkpath;
// path itself, when made here, gets exactly mode. False when it cannot be made.
bool MakePrivateDirectory(const QString& path, mode_t mode);

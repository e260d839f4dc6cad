// Finding the installation directory in the registered open command, and
// refusing one that is not safe to empty.
#ifndef UNINST_INSTALL_DIR_H
#define UNINST_INSTALL_DIR_H

#include "platform.h"

enum { install_dir_size = 256 };

// Query capacity: one byte less than the buffer, so its last byte stays NUL
// whatever the stored value holds.
static const DWORD install_dir_query_size = 255;

// Keeps what comes before the last backslash of `text`, anywhere in it; text
// without a backslash becomes empty.
void cut_at_last_backslash(char *text);

// True for a fully qualified local path X:\name[\name...] that names neither
// the Windows directory, nor anything inside or above it, nor the root of a
// folder that many programs share. `windows_dir` may end in a backslash.
bool is_safe_to_empty(const char *dir, const char *windows_dir);

#endif

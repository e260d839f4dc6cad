// The program's one view of its platform.
//
// On Windows <windows.h> is the system's own; elsewhere the build puts the
// POSIX stand-in's declarations first on the include path. The log's file is
// opened through log_file_open, which each platform provides in a file of its
// own, so the log itself never needs to know where it runs.
#ifndef UNINST_PLATFORM_H
#define UNINST_PLATFORM_H

#include <stdio.h>
#include <windows.h>

// Opens the file named by a Windows path for writing only, in binary mode,
// shared for reading and writing with other openers: emptied first when
// `truncate` is non-zero, appended to otherwise, created when absent.
// Returns null when it cannot.
FILE *log_file_open(const char *windows_path, int truncate);

#endif

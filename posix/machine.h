// The Windows machine that the stand-in keeps in one folder, the machine
// directory: registry.reg, drive_c/ for C:, drive_d/ for D:, and so on.
#ifndef UNINST_POSIX_MACHINE_H
#define UNINST_POSIX_MACHINE_H

#include <string>

#include <windows.h>

namespace standin {

// The machine directory's path: $UNINST_MACHINE, or ~/.uninst-machine as
// Wine uses ~/.wine. Empty when neither can be had; the machine then has no
// drives and an empty registry.
const std::string &machine_dir();

// A descriptor of the machine directory, opened once; -1 without one.
int machine_fd();

// The drive folder's name for a drive letter: "drive_c" for 'C'.
std::string drive_folder(char drive);

// The thread's last error, as GetLastError reports it.
void set_last_error(DWORD code);

// The Windows error that matches an errno value of a file-system call.
DWORD error_from_errno(int error);

// Sets the last error from errno and returns FALSE, for BOOL functions.
BOOL fail_with_errno();

// Sets the last error and returns FALSE.
BOOL fail_with(DWORD code);

} // namespace standin

#endif

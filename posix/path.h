// Windows paths on the machine: their lexical form, the names that Windows
// accepts, and the host folders that they stand for.
#ifndef UNINST_POSIX_PATH_H
#define UNINST_POSIX_PATH_H

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace standin {

// A full Windows path: a drive and the names below its root, with "." and
// ".." already taken out.
struct WindowsPath {
    char drive = 'C';
    std::vector<std::string> names;

    // "C:\" for a root, "C:\APPS\VIEWER" below it, as Windows prints it.
    std::string text() const;
};

// True for a name that a Windows volume can hold and a Win32 path can reach:
// not empty, none of "\/:*?"<>|" or control characters, no trailing dot or
// space (Windows would quietly strip them and reach another entry).
bool is_valid_name(const std::string &name);

// True when `pattern` may stand as the last name of a search: the wildcards
// "*" and "?" are allowed there.
bool is_valid_pattern(const std::string &pattern);

// True for a name that Windows opens as a device (NUL, CON.TXT, COM1, ...).
bool is_device_name(const std::string &name);

// Compares names as Windows does on its volumes: ASCII letters match either case.
inline bool same_name(std::string_view a, std::string_view b) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

// Makes `text` a full path against `current` (the current directory) and
// `drive_current` (each drive's current directory). The last name may hold
// wildcards when `pattern` is set. Returns ERROR_SUCCESS or the Windows error.
DWORD parse_windows_path(const char *text, const WindowsPath &current,
                         const std::vector<WindowsPath> &drive_current, bool pattern,
                         WindowsPath &full);

// The folder's descriptor for the first `depth` names of `path`, opened
// without following any symbolic link, so that no path leads outside the
// machine. Returns -1 and sets the last error when it cannot.
int open_windows_dir(const WindowsPath &path, size_t depth);

// The name of the entry in `dir_fd` that Windows would take for `wanted`:
// the exact name when it exists, else the one entry that differs from it
// only in case. False when there is none, or several.
bool find_entry(int dir_fd, const std::string &wanted, std::string &actual);

} // namespace standin

#endif

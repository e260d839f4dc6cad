// The process's current directory on the machine, and each drive's own.
//
// The host process's working directory always is the folder that the
// current directory names, so that an entry's name reaches the very folder
// that the program moved into, even if that folder has been renamed or moved
// meanwhile.
#ifndef UNINST_POSIX_CURRENT_DIR_H
#define UNINST_POSIX_CURRENT_DIR_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "find.h"
#include "path.h"

namespace standin {

// The longest current directory Windows keeps: MAX_PATH less its trailing
// backslash and terminator.
const size_t max_current_dir_length = MAX_PATH - 2;

struct CurrentDir {
    WindowsPath path;
    std::vector<WindowsPath> drives; // each drive's current directory, by letter
    // For each move down by one name, the folder it came from: ".." must
    // lead back to that very folder.
    std::vector<std::pair<dev_t, ino_t>> came_from;
    mode_t mode = 0; // the current folder's permissions, for deleting inside it
    // The current folder's identity, so that no call needs to look at "."
    // to know which folder it is; zero while the start found none.
    dev_t device = 0;
    ino_t inode = 0;
};

// The state, set up at first use from the host's working directory.
CurrentDir &current_dir();

// Where a path leads: the folder that holds its last name, and that name as
// the folder spells it (or as given, when no entry has it yet).
struct Location {
    int dir_fd = -1;
    std::string name;
    bool exists = false;
    bool is_root = false;
    // A name of the current directory that an open search has just
    // reported: what the search learned about it.
    bool reported = false;
    ReportedEntry entry{};
    Location() = default;
    Location(const Location &) = delete;
    Location &operator=(const Location &) = delete;
    ~Location();
};

// Finds where `text` leads; returns ERROR_SUCCESS or the Windows error.
DWORD locate(const char *text, Location &where);

// True for a plain entry name: no drive, no separator, not "." or "..".
bool is_single_name(const char *text);

} // namespace standin

#endif

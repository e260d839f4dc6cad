// What an open directory search has learned about the entry it reported
// last. The tree removal acts on each entry right after the search reports
// it (deletes it, enters it, removes it), and that call can take the entry's
// kind and permissions from here instead of asking the file system again.
#ifndef UNINST_POSIX_FIND_H
#define UNINST_POSIX_FIND_H

#include <sys/stat.h>

#include <windows.h>

namespace standin {

struct ReportedEntry {
    struct stat info;   // the entry itself, a link not followed
    DWORD attributes;   // as the search reported them
};

// The entry `name` of the current directory, as an open search over that
// directory has just reported it; false when no open search has.
bool find_reported_entry(const char *name, ReportedEntry &entry);

// Forgets the current directory's entry `name` once it is gone, so that an
// entry made later under the same name is looked at afresh.
void forget_reported_entry(const char *name);

// Forgets every entry that the open searches have reported, once an entry
// named by a path is gone, which may have been any of them.
void forget_reported_entries();

} // namespace standin

#endif

// Windows paths on the double's drives: how a full, drive-relative or
// relative path with "." and ".." leads to a folder, a file or a link.
#ifndef UNINST_TESTS_PATHS_DOUBLE_H
#define UNINST_TESTS_PATHS_DOUBLE_H

#include "double_state.h"

namespace platform_double::detail {

struct Resolved {
    DWORD error = ERROR_SUCCESS;
    // The way to the folder that holds the entry, as the path walked it; empty
    // when the path names a drive's root.
    std::vector<Step> holder;
    std::string name;           // The entry's name as the path gives it.
    std::shared_ptr<Node> node; // The entry itself, null when absent.
};

// Walks `path` from the current directory. Links on the way are entered as
// Windows enters them; a link at the end is followed only when asked.
Resolved resolve(const std::string &path, bool follow_final_link);

// The folder a link leads to, or null for a dangling link.
std::shared_ptr<Node> link_target(const Node &link);

// "C:\" for a root, "C:\A\B" below it.
std::string chain_path(const std::vector<Step> &chain);

// The entry's full path through the way that reached it.
std::string resolved_path(const Resolved &resolved);

} // namespace platform_double::detail

#endif

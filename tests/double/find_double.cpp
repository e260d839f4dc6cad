// Directory searches: a snapshot of a folder's entries taken at the open.
#include <cstring>

#include "paths_double.h"

using namespace platform_double;
using namespace platform_double::detail;

static WIN32_FIND_DATAA entry_data(const std::string &name, const Node &node) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    if (node.kind == Kind::file)
        data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    else
        data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    if (node.kind == Kind::folder_link) {
        data.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        data.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    }
    if (node.read_only)
        data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    return data;
}

// "." and ".." first (a drive's root has neither, as on NTFS), then every
// entry in the order it was added.
static std::vector<WIN32_FIND_DATAA> entries_of(const Node &folder) {
    std::vector<WIN32_FIND_DATAA> entries;
    if (folder.parent != nullptr) {
        entries.push_back(entry_data(".", folder));
        entries.push_back(entry_data("..", folder));
    }
    for (const auto &child : folder.children)
        entries.push_back(entry_data(child->name, *child));
    return entries;
}

static bool is_match_all(const std::string &pattern) {
    return pattern == "*.*" || pattern == "*";
}

static HANDLE fail_search(Record &record, DWORD error) {
    state().last_error = error;
    record.result = 0;
    finish(record);
    return INVALID_HANDLE_VALUE;
}

// Opens a search over a folder ("*.*" or "*", alone for the current
// directory or after a folder's path) and reports its first entry. The
// entries are those at the open: later deletes never disturb the search.
// Fails with INVALID_HANDLE_VALUE for a folder set up as not to be listed
// (ERROR_ACCESS_DENIED), one with no entry at all (ERROR_FILE_NOT_FOUND) and
// an absent one. Departs from Windows in matching no other pattern
// (ERROR_INVALID_PARAMETER).
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    Record record{Call::find_first_file, text_of(pattern)};
    if (inject(record))
        return fail_search(record, ERROR_ACCESS_DENIED);
    size_t cut = record.text.find_last_of("\\/");
    std::string folder_path = cut == std::string::npos ? "." : record.text.substr(0, cut + 1);
    if (!is_match_all(cut == std::string::npos ? record.text : record.text.substr(cut + 1)))
        return fail_search(record, ERROR_INVALID_PARAMETER);
    Resolved resolved = resolve(folder_path, true);
    if (resolved.error != ERROR_SUCCESS || resolved.node == nullptr ||
        resolved.node->kind != Kind::folder)
        return fail_search(record,
                           resolved.error != ERROR_SUCCESS ? resolved.error : ERROR_PATH_NOT_FOUND);
    if (resolved.node->no_list)
        return fail_search(record, ERROR_ACCESS_DENIED);
    Search search{entries_of(*resolved.node)};
    if (search.entries.empty())
        return fail_search(record, ERROR_FILE_NOT_FOUND);
    record.opened = first_search_handle + ++state().searches_opened;
    *data = search.entries[0];
    search.next = 1;
    record.second_text = data->cFileName;
    state().open_searches[record.opened] = search;
    record.result = 1;
    finish(record);
    return (HANDLE)record.opened;
}

// Reports the search's next entry; FALSE with ERROR_NO_MORE_FILES after the
// last. A search closed or never opened is the program's fault.
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    Record record{Call::find_next_file};
    record.handle = (uintptr_t)search;
    bool injected = inject(record);
    auto open = state().open_searches.find(record.handle);
    if (open == state().open_searches.end()) {
        bool closed = state().closed_searches.count(record.handle) != 0;
        program_fault("FindNextFileA on " + handle_name(record.handle) +
                      (closed ? ", a search already closed" : ", a search never opened"));
        state().last_error = ERROR_INVALID_HANDLE;
    } else if (injected) {
        state().last_error = ERROR_ACCESS_DENIED;
    } else if (open->second.next >= open->second.entries.size()) {
        state().last_error = ERROR_NO_MORE_FILES;
    } else {
        *data = open->second.entries[open->second.next++];
        record.second_text = data->cFileName;
        record.result = TRUE;
    }
    return BOOL(finish(record));
}

// Ends a search. Closing one twice or one never opened (INVALID_HANDLE_VALUE
// included) is the program's fault. An injected failure still ends it.
BOOL WINAPI FindClose(HANDLE search) {
    Record record{Call::find_close};
    record.handle = (uintptr_t)search;
    bool injected = inject(record);
    auto open = state().open_searches.find(record.handle);
    if (open != state().open_searches.end()) {
        state().open_searches.erase(open);
        state().closed_searches.insert(record.handle);
        record.result = injected ? FALSE : TRUE;
    } else {
        bool closed = state().closed_searches.count(record.handle) != 0;
        program_fault("FindClose on " + handle_name(record.handle) +
                      (closed ? ", a search already closed" : ", a search never opened"));
        state().last_error = ERROR_INVALID_HANDLE;
    }
    return BOOL(finish(record));
}

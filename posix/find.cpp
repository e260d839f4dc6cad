// The directory search of KERNEL32: FindFirstFileA, FindNextFileA, FindClose.
//
// A search reads its folder through one open descriptor in large batches and
// reports entries as Windows does: "." and ".." (but in a drive's root),
// hidden entries, and symbolic links with the reparse-point bit, a link to a
// folder with the directory bit as well. Names that no Windows volume could
// hold (a backslash, "*", a trailing dot, ...) are not reported: no Win32
// call could reach them by that name, and another entry might answer to it.
//
// Within each batch the entries are reported in the order of their inode
// numbers, "." and ".." first. A caller that deletes each entry as it comes
// (the tree removal does) then frees the folder's inodes in the order the
// file system keeps them, which on ext4 is several times faster in a large
// folder than the order of the names' hashes that a directory read gives.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "current_dir.h"
#include "find.h"
#include "machine.h"

using namespace standin;

namespace {

// One directory read asks for this many bytes of entries at a time, and a
// batch ends once it holds this many entries: a folder of up to that many
// is read whole and reported in inode order, a larger one batch by batch
// in bounded memory.
const size_t read_size = 256 * 1024;
const size_t batch_entries = 64 * 1024;

struct PendingEntry {
    ino_t inode;
    size_t name; // offset in the batch's names
};

struct Search {
    int fd = -1;
    struct stat folder {}; // the searched folder
    std::string pattern;
    bool at_root = false;
    bool exhausted = false;
    std::vector<char> names;
    std::vector<PendingEntry> pending;
    size_t next = 0;
    std::string last_name; // the entry reported last, while it stands
    ReportedEntry last{};
    ~Search() {
        if (fd >= 0)
            close(fd);
    }
};

std::map<uintptr_t, std::unique_ptr<Search>> searches;
uintptr_t next_search = 0x1000;

// Windows' wildcards: "*" for any run of characters, "?" for one, and "*.*"
// for every name, also one without a dot.
bool matches(const char *pattern, const char *name) {
    if (strcmp(pattern, "*") == 0 || strcmp(pattern, "*.*") == 0)
        return true;
    for (; *pattern != '\0'; ++pattern, ++name) {
        if (*pattern == '*') {
            for (const char *rest = name;; ++rest) {
                if (matches(pattern + 1, rest))
                    return true;
                if (*rest == '\0')
                    return false;
            }
        }
        if (*name == '\0' || (*pattern != '?' && !same_name(std::string(1, *pattern),
                                                            std::string(1, *name))))
            return false;
    }
    return *name == '\0';
}

bool is_dot_entry(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

DWORD attributes_of(int dir_fd, const char *name, const struct stat &info) {
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target;
        if (fstatat(dir_fd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (!S_ISDIR(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
        if ((info.st_mode & S_IWUSR) == 0)
            attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (name[0] == '.' && !is_dot_entry(name))
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

// Seconds since 1970 to Windows' 100-nanosecond ticks since 1601.
FILETIME file_time(const timespec &time) {
    uint64_t ticks = (uint64_t(time.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(time.tv_nsec) / 100;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

void fill(const char *name, const ReportedEntry &entry, WIN32_FIND_DATAA &data) {
    const struct stat &info = entry.info;
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = entry.attributes;
    if (S_ISLNK(info.st_mode))
        data.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    data.ftCreationTime = file_time(info.st_ctim);
    data.ftLastAccessTime = file_time(info.st_atim);
    data.ftLastWriteTime = file_time(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        data.nFileSizeHigh = DWORD(uint64_t(info.st_size) >> 32);
        data.nFileSizeLow = DWORD(info.st_size);
    }
    strncpy(data.cFileName, name, MAX_PATH - 1);
}

bool is_wanted(const Search &search, const char *name) {
    if (is_dot_entry(name) ? search.at_root : !is_valid_name(name))
        return false;
    return matches(search.pattern.c_str(), name);
}

// Keeps the wanted entries of one directory read's bytes.
void keep_entries(Search &search, const char *bytes, size_t size) {
    for (size_t offset = 0; offset < size;) {
        const struct dirent64 *entry = reinterpret_cast<const struct dirent64 *>(bytes + offset);
        offset += entry->d_reclen;
        if (!is_wanted(search, entry->d_name))
            continue;
        search.pending.push_back(PendingEntry{entry->d_ino, search.names.size()});
        search.names.insert(search.names.end(), entry->d_name, entry->d_name + strlen(entry->d_name) + 1);
    }
}

// Reads the folder's next batch of entries; false when nothing is left.
bool read_batch(Search &search) {
    static std::vector<char> buffer(read_size);
    search.names.clear();
    search.pending.clear();
    search.next = 0;
    while (!search.exhausted && search.pending.size() < batch_entries) {
        ssize_t got = getdents64(search.fd, buffer.data(), buffer.size());
        if (got <= 0)
            search.exhausted = true; // a failed read ends the search as its end would
        else
            keep_entries(search, buffer.data(), size_t(got));
    }
    const char *names = search.names.data();
    std::sort(search.pending.begin(), search.pending.end(),
              [names](const PendingEntry &a, const PendingEntry &b) {
                  bool a_dot = is_dot_entry(names + a.name), b_dot = is_dot_entry(names + b.name);
                  return a_dot != b_dot ? a_dot : a.inode < b.inode;
              });
    return !search.pending.empty();
}

// Reports the search's next entry that matches; false at the end.
bool report_next(Search &search, WIN32_FIND_DATAA &data) {
    search.last_name.clear();
    for (;;) {
        if (search.next == search.pending.size() && !read_batch(search))
            return false;
        const char *name = search.names.data() + search.pending[search.next++].name;
        ReportedEntry &entry = search.last;
        if (strcmp(name, ".") == 0)
            entry.info = search.folder;
        else if (fstatat(search.fd, name, &entry.info, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // deleted since the folder was read
        entry.attributes = attributes_of(search.fd, name, entry.info);
        fill(name, entry, data);
        search.last_name = name;
        return true;
    }
}

// Opens the folder that a search pattern names, for reading its entries.
int open_search_folder(const char *text, std::string &pattern, bool &at_root) {
    CurrentDir &state = current_dir();
    WindowsPath full;
    if (DWORD error = parse_windows_path(text, state.path, state.drives, true, full)) {
        set_last_error(error);
        return -1;
    }
    if (full.names.empty()) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return -1;
    }
    pattern = full.names.back();
    full.names.pop_back();
    at_root = full.names.empty();
    if (strpbrk(text, "\\/:") == nullptr)
        return openat(AT_FDCWD, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = open_windows_dir(full, full.names.size());
    if (fd < 0)
        return -1;
    int real = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    return real;
}

bool searches_folder(const Search &search, dev_t device, ino_t inode) {
    return search.folder.st_dev == device && search.folder.st_ino == inode;
}

// The newest open search over the current directory. Only its last entry is
// trusted: deletions in the folder are forgotten there alone, and an older
// search over the same folder forgets its own when the newer one closes.
Search *newest_search_here() {
    const CurrentDir &state = current_dir();
    for (auto it = searches.rbegin(); it != searches.rend(); ++it)
        if (searches_folder(*it->second, state.device, state.inode))
            return it->second.get();
    return nullptr;
}

} // namespace

namespace standin {

bool find_reported_entry(const char *name, ReportedEntry &entry) {
    const Search *search = newest_search_here();
    if (search == nullptr || search->last_name != name)
        return false;
    entry = search->last;
    return true;
}

void forget_reported_entry(const char *name) {
    Search *search = newest_search_here();
    if (search != nullptr && search->last_name == name)
        search->last_name.clear();
}

void forget_reported_entries() {
    for (auto &search : searches)
        search.second->last_name.clear();
}

} // namespace standin

// Opens a search for the entries that match the last name of `pattern` in
// the folder that the rest names, and reports the first. Fails on a folder
// without its read bit (5), a missing folder (3) and no match (2).
extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (pattern == nullptr || data == nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<Search> search(new Search);
    int fd = open_search_folder(pattern, search->pattern, search->at_root);
    struct stat &folder = search->folder;
    if (fd >= 0 && (fstat(fd, &folder) != 0 || (folder.st_mode & S_IRUSR) == 0)) {
        close(fd);
        set_last_error(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (fd < 0) {
        set_last_error(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                         : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    search->fd = fd;
    if (!report_next(*search, *data)) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    uintptr_t handle = next_search;
    next_search += 4;
    searches[handle] = std::move(search);
    return HANDLE(handle);
}

// Reports the next matching entry; FALSE with 18 at the end, 6 for a handle
// that is not an open search.
extern "C" BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    auto found = searches.find(uintptr_t(search));
    if (found == searches.end())
        return fail_with(ERROR_INVALID_HANDLE);
    if (data == nullptr)
        return fail_with(ERROR_INVALID_PARAMETER);
    return report_next(*found->second, *data) ? TRUE : fail_with(ERROR_NO_MORE_FILES);
}

// Ends a search; 6 for a handle that is not an open search.
extern "C" BOOL WINAPI FindClose(HANDLE search) {
    auto found = searches.find(uintptr_t(search));
    if (found == searches.end())
        return fail_with(ERROR_INVALID_HANDLE);
    const struct stat &folder = found->second->folder;
    for (auto &open : searches)
        if (open.second != found->second && searches_folder(*open.second, folder.st_dev, folder.st_ino))
            open.second->last_name.clear();
    searches.erase(found);
    return TRUE;
}

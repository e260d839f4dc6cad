// The directory search of KERNEL32: FindFirstFileA, FindNextFileA, FindClose.
//
// A search reads its folder through one open descriptor in large batches and
// reports entries as Windows does: "." and ".." (but in a drive's root),
// hidden entries, and symbolic links with the reparse-point bit, a link to a
// folder with the directory bit as well. Names that no Windows volume could
// hold (a backslash, "*", a trailing dot, ...) are not reported: no Win32
// call could reach them by that name, and another entry might answer to it.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "current_dir.h"
#include "machine.h"

using namespace standin;

namespace {

struct Search {
    DIR *dir = nullptr;
    std::string pattern;
    bool at_root = false;
    ~Search() {
        if (dir != nullptr)
            closedir(dir);
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

void fill(int dir_fd, const char *name, const struct stat &info, WIN32_FIND_DATAA &data) {
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = attributes_of(dir_fd, name, info);
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

// Reports the search's next entry that matches; false at the end.
bool report_next(Search &search, WIN32_FIND_DATAA &data) {
    int dir_fd = dirfd(search.dir);
    while (struct dirent *entry = readdir(search.dir)) {
        const char *name = entry->d_name;
        if (is_dot_entry(name) ? search.at_root : !is_valid_name(name))
            continue;
        if (!matches(search.pattern.c_str(), name))
            continue;
        struct stat info;
        if (fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // deleted since the folder was read
        fill(dir_fd, name, info, data);
        return true;
    }
    return false;
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

} // namespace

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
    struct stat folder;
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
    search->dir = fdopendir(fd);
    if (search->dir == nullptr) {
        close(fd);
        set_last_error(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
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
    return searches.erase(uintptr_t(search)) == 1 ? TRUE : fail_with(ERROR_INVALID_HANDLE);
}

// The file-system functions of KERNEL32 that remove things and move the
// current directory, on the machine's drive folders.
//
// Windows' file attributes are read off the owner's permission bits, the same
// for every user, root included: a file without the owner's write bit is
// read-only, a folder without it lets nothing inside be deleted, and a folder
// without its execute bit cannot be entered.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "current_dir.h"
#include "machine.h"

using namespace standin;

namespace {

const char windows_dir_path[] = "C:\\WINDOWS";

bool is_current_folder(const struct stat &info) {
    const CurrentDir &state = current_dir();
    if (state.inode != 0)
        return state.device == info.st_dev && state.inode == info.st_ino;
    struct stat current;
    return stat(".", &current) == 0 && current.st_dev == info.st_dev &&
           current.st_ino == info.st_ino;
}

// Whether entries may be deleted from the folder that holds `where`.
bool folder_allows_deleting(const Location &where) {
    if (where.dir_fd == AT_FDCWD)
        return (current_dir().mode & S_IWUSR) != 0;
    struct stat folder;
    return fstat(where.dir_fd, &folder) == 0 && (folder.st_mode & S_IWUSR) != 0;
}

// The entry's own status, a link not followed.
bool status_of(const Location &where, struct stat &info) {
    if (where.reported) {
        info = where.entry.info;
        return true;
    }
    return fstatat(where.dir_fd, where.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool is_link_to_directory(const Location &where) {
    if (where.reported)
        return (where.entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    struct stat target;
    return fstatat(where.dir_fd, where.name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
}

// Removes the entry and forgets what any search learned about it.
BOOL unlink_entry(const Location &where, int flags) {
    if (unlinkat(where.dir_fd, where.name.c_str(), flags) != 0)
        return FALSE;
    if (where.dir_fd == AT_FDCWD)
        forget_reported_entry(where.name.c_str());
    else
        forget_reported_entries();
    return TRUE;
}

bool fits_current_dir(const WindowsPath &path) {
    return path.text().size() <= max_current_dir_length;
}

// Moves into `fd`, an open folder whose status is `info`, which becomes the
// current directory `path`.
BOOL change_to_folder(int fd, const struct stat &info, const WindowsPath &path) {
    if (!S_ISDIR(info.st_mode))
        return fail_with(ERROR_DIRECTORY);
    if ((info.st_mode & S_IXUSR) == 0)
        return fail_with(ERROR_ACCESS_DENIED);
    if (fchdir(fd) != 0)
        return fail_with_errno();
    CurrentDir &state = current_dir();
    state.path = path;
    state.drives[path.drive - 'A'] = path;
    state.mode = info.st_mode;
    state.device = info.st_dev;
    state.inode = info.st_ino;
    return TRUE;
}

BOOL change_to(int fd, const WindowsPath &path) {
    struct stat info;
    if (fstat(fd, &info) != 0)
        return fail_with(ERROR_DIRECTORY);
    return change_to_folder(fd, info, path);
}

// One name down. The folder is opened without following a link, so the
// move lands inside the very folder that holds this name, or nowhere.
BOOL enter_child(const char *name) {
    Location where;
    if (DWORD error = locate(name, where))
        return fail_with(error);
    if (!where.exists)
        return fail_with(ERROR_FILE_NOT_FOUND);
    WindowsPath path = current_dir().path;
    path.names.push_back(name);
    if (!fits_current_dir(path))
        return fail_with(ERROR_FILENAME_EXCED_RANGE);
    struct stat here;
    here.st_dev = current_dir().device;
    here.st_ino = current_dir().inode;
    if (here.st_ino == 0 && stat(".", &here) != 0)
        return fail_with_errno();
    int fd = openat(AT_FDCWD, where.name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail_with(errno == ENOTDIR || errno == ELOOP ? ERROR_DIRECTORY : error_from_errno(errno));
    BOOL changed = change_to(fd, path);
    close(fd);
    if (changed)
        current_dir().came_from.emplace_back(here.st_dev, here.st_ino);
    return changed;
}

// One level up, back to the folder that the last move down came from. If
// the current folder was moved elsewhere meanwhile, its parent is another
// folder and the move fails, as rm refuses to climb out of a moved folder.
BOOL leave_to_parent() {
    CurrentDir &state = current_dir();
    if (state.path.names.empty())
        return TRUE; // ".." of a root is that root
    WindowsPath path = state.path;
    path.names.pop_back();
    int fd = openat(AT_FDCWD, "..", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int expected = state.came_from.empty() ? open_windows_dir(path, path.names.size()) : -1;
    struct stat parent, wanted;
    bool same = fd >= 0 && fstat(fd, &parent) == 0;
    if (!state.came_from.empty())
        same = same && parent.st_dev == state.came_from.back().first &&
               parent.st_ino == state.came_from.back().second;
    else
        same = same && expected >= 0 && fstat(expected, &wanted) == 0 &&
               parent.st_dev == wanted.st_dev && parent.st_ino == wanted.st_ino;
    if (expected >= 0)
        close(expected);
    BOOL changed = same ? change_to_folder(fd, parent, path) : fail_with(ERROR_PATH_NOT_FOUND);
    if (fd >= 0)
        close(fd);
    if (changed && !state.came_from.empty())
        state.came_from.pop_back();
    return changed;
}

BOOL enter_path(const char *text) {
    CurrentDir &state = current_dir();
    WindowsPath path;
    if (DWORD error = parse_windows_path(text, state.path, state.drives, false, path))
        return fail_with(error);
    if (!path.names.empty() && is_device_name(path.names.back()))
        return fail_with(ERROR_DIRECTORY);
    if (!fits_current_dir(path))
        return fail_with(ERROR_FILENAME_EXCED_RANGE);
    int fd = open_windows_dir(path, path.names.size());
    if (fd < 0)
        return FALSE;
    int real = openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    if (real < 0)
        return fail_with_errno();
    BOOL changed = change_to(real, path);
    close(real);
    if (changed)
        state.came_from.clear();
    return changed;
}

} // namespace

// Makes a folder the current directory: an entry's name, "..", or any path.
// Fails on an empty name, a name Windows forbids, a path longer than the
// current directory may be (206), a file (267), a folder without its
// execute bit (5), and on a symbolic link, which the stand-in never enters
// (Windows would follow it).
extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    current_dir();
    if (path == nullptr || path[0] == '\0')
        return fail_with(ERROR_INVALID_NAME);
    if (is_single_name(path))
        return enter_child(path);
    if (strcmp(path, "..") == 0)
        return leave_to_parent();
    return enter_path(path);
}

// Copies the current directory and returns its length; when it does not fit
// `size` bytes with its terminator, returns the size needed and writes nothing.
extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    std::string text = current_dir().path.text();
    if (buffer == nullptr || size < text.size() + 1)
        return DWORD(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return DWORD(text.size());
}

// The machine's Windows directory, C:\WINDOWS, on the same terms as
// GetCurrentDirectoryA.
extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    size_t length = strlen(windows_dir_path);
    if (buffer == nullptr || size < length + 1)
        return UINT(length + 1);
    memcpy(buffer, windows_dir_path, length + 1);
    return UINT(length);
}

// Removes an empty folder. A symbolic link to a folder is removed as the
// link alone. Refuses a root (5), a file (267), the current directory (32),
// a folder that is not empty (145), and one whose parent forbids deleting (5).
extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    Location where;
    if (DWORD error = locate(path, where))
        return fail_with(error);
    if (where.is_root)
        return fail_with(ERROR_ACCESS_DENIED);
    struct stat info;
    if (!where.exists || !status_of(where, info))
        return fail_with(ERROR_FILE_NOT_FOUND);
    if (!folder_allows_deleting(where))
        return fail_with(ERROR_ACCESS_DENIED);
    if (S_ISLNK(info.st_mode) && is_link_to_directory(where))
        return unlink_entry(where, 0) ? TRUE : fail_with_errno();
    if (!S_ISDIR(info.st_mode))
        return fail_with(ERROR_DIRECTORY);
    if (is_current_folder(info))
        return fail_with(ERROR_SHARING_VIOLATION);
    if (unlink_entry(where, AT_REMOVEDIR))
        return TRUE;
    return fail_with(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : error_from_errno(errno));
}

// Deletes a file, or a symbolic link to a file as the link alone. Refuses a
// read-only file (5), a folder or a link to one (5), a device name (5) and a
// missing entry (2).
extern "C" BOOL WINAPI DeleteFileA(LPCSTR path) {
    Location where;
    if (DWORD error = locate(path, where))
        return fail_with(error);
    struct stat info;
    if (where.is_root)
        return fail_with(ERROR_ACCESS_DENIED);
    if (!where.exists || !status_of(where, info))
        return fail_with(ERROR_FILE_NOT_FOUND);
    if (S_ISDIR(info.st_mode) || (S_ISLNK(info.st_mode) && is_link_to_directory(where)))
        return fail_with(ERROR_ACCESS_DENIED);
    if ((!S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) || !folder_allows_deleting(where))
        return fail_with(ERROR_ACCESS_DENIED);
    return unlink_entry(where, 0) ? TRUE : fail_with_errno();
}

#include "path.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "machine.h"

namespace standin {

static const char *const device_names[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

static char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

std::string WindowsPath::text() const {
    std::string result{drive, ':', '\\'};
    for (size_t i = 0; i < names.size(); ++i)
        result += (i == 0 ? "" : "\\") + names[i];
    return result;
}

static bool has_forbidden_char(const std::string &name, const char *forbidden) {
    for (unsigned char c : name)
        if (c < 0x20 || strchr(forbidden, c) != nullptr)
            return true;
    return false;
}

static bool ends_in_dot_or_space(const std::string &name) {
    return !name.empty() && (name.back() == '.' || name.back() == ' ');
}

bool is_valid_name(const std::string &name) {
    return !name.empty() && !has_forbidden_char(name, "\\/:*?\"<>|") && !ends_in_dot_or_space(name);
}

bool is_valid_pattern(const std::string &pattern) {
    return !pattern.empty() && !has_forbidden_char(pattern, "\\/:\"<>|");
}

bool is_device_name(const std::string &name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (const char *device : device_names)
        if (same_name(stem, device))
            return true;
    return false;
}

static bool is_separator(char c) { return c == '\\' || c == '/'; }

static bool starts_with_drive(const char *text) {
    char drive = upper(text[0]);
    return drive >= 'A' && drive <= 'Z' && text[1] == ':';
}

// Chooses the directory that a path is read against: the drive's root for
// "X:\..." and "\...", that drive's current directory for "X:name", the
// current directory for a plain relative path.
static const char *choose_start(const char *text, const WindowsPath &current,
                                const std::vector<WindowsPath> &drive_current,
                                WindowsPath &start) {
    if (starts_with_drive(text)) {
        char drive = upper(text[0]);
        start = drive_current[drive - 'A'];
        text += 2;
        if (is_separator(*text))
            start.names.clear();
        return text;
    }
    start = current;
    if (is_separator(*text))
        start.names.clear();
    return text;
}

// Adds one name to a path being built: "." stays, ".." climbs but never above
// the drive's root, anything else must be a name that Windows accepts.
static DWORD add_name(const std::string &name, bool last, bool pattern, WindowsPath &full) {
    if (name == "." || name.empty())
        return ERROR_SUCCESS;
    if (name == "..") {
        if (!full.names.empty())
            full.names.pop_back();
        return ERROR_SUCCESS;
    }
    bool valid = last && pattern ? is_valid_pattern(name) : is_valid_name(name);
    if (!valid)
        return ERROR_INVALID_NAME;
    full.names.push_back(name);
    return ERROR_SUCCESS;
}

DWORD parse_windows_path(const char *text, const WindowsPath &current,
                         const std::vector<WindowsPath> &drive_current, bool pattern,
                         WindowsPath &full) {
    if (text == nullptr || text[0] == '\0')
        return ERROR_PATH_NOT_FOUND;
    if (strlen(text) >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (is_separator(text[0]) && is_separator(text[1]))
        return ERROR_BAD_NETPATH; // UNC and device paths: no network on this machine.
    const char *rest = choose_start(text, current, drive_current, full);
    while (*rest != '\0') {
        size_t length = strcspn(rest, "\\/");
        bool last = rest[length] == '\0';
        if (DWORD error = add_name(std::string(rest, length), last, pattern, full))
            return error;
        rest += length;
        while (is_separator(*rest))
            ++rest;
    }
    return ERROR_SUCCESS;
}

bool find_entry(int dir_fd, const std::string &wanted, std::string &actual) {
    struct stat info;
    if (fstatat(dir_fd, wanted.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        actual = wanted;
        return true;
    }
    int fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    int matches = 0;
    while (struct dirent *entry = readdir(dir))
        if (same_name(entry->d_name, wanted)) {
            actual = entry->d_name;
            ++matches;
        }
    closedir(dir);
    return matches == 1;
}

// Opens one name below `dir_fd` as a directory, never through a link.
static int open_child_dir(int dir_fd, const std::string &wanted) {
    std::string actual;
    if (!find_entry(dir_fd, wanted, actual)) {
        errno = ENOENT;
        return -1;
    }
    return openat(dir_fd, actual.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int open_windows_dir(const WindowsPath &path, size_t depth) {
    if (machine_fd() < 0) {
        set_last_error(ERROR_PATH_NOT_FOUND);
        return -1;
    }
    int fd = openat(machine_fd(), drive_folder(path.drive).c_str(),
                    O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        set_last_error(ERROR_PATH_NOT_FOUND);
        return -1;
    }
    for (size_t i = 0; i < depth && fd >= 0; ++i) {
        int child = open_child_dir(fd, path.names[i]);
        int saved = errno;
        close(fd);
        fd = child;
        errno = saved;
    }
    if (fd < 0)
        set_last_error(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                         : ERROR_PATH_NOT_FOUND);
    return fd;
}

} // namespace standin

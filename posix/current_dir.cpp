#include "current_dir.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "machine.h"

namespace standin {

// The drive and names that a host folder stands for, when it lies inside one
// of the machine's drive folders.
static bool host_to_windows(const std::string &host, WindowsPath &path) {
    char *machine = realpath(machine_dir().c_str(), nullptr);
    if (machine == nullptr)
        return false;
    std::string prefix = std::string(machine) + "/drive_";
    free(machine);
    if (host.compare(0, prefix.size(), prefix) != 0 || host.size() == prefix.size())
        return false;
    char drive = host[prefix.size()];
    size_t rest = prefix.size() + 1;
    if (drive < 'a' || drive > 'z' || (rest < host.size() && host[rest] != '/'))
        return false;
    path.drive = char(drive - 'a' + 'A');
    path.names.clear();
    while (rest < host.size()) {
        size_t end = host.find('/', rest + 1);
        std::string name = host.substr(rest + 1, end == std::string::npos ? end : end - rest - 1);
        if (!is_valid_name(name))
            return false;
        path.names.push_back(name);
        rest = end == std::string::npos ? host.size() : end;
    }
    return path.text().size() <= max_current_dir_length;
}

static CurrentDir start_current_dir() {
    CurrentDir state;
    for (char drive = 'A'; drive <= 'Z'; ++drive) {
        WindowsPath root;
        root.drive = drive;
        state.drives.push_back(root);
    }
    char host[PATH_MAX];
    if (getcwd(host, sizeof host) == nullptr || !host_to_windows(host, state.path))
        state.path = state.drives['C' - 'A'];
    state.drives[state.path.drive - 'A'] = state.path;
    int fd = open_windows_dir(state.path, state.path.names.size());
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && fchdir(fd) == 0) {
        state.mode = info.st_mode;
        state.device = info.st_dev;
        state.inode = info.st_ino;
    }
    if (fd >= 0)
        close(fd);
    return state;
}

CurrentDir &current_dir() {
    static CurrentDir state = start_current_dir();
    return state;
}

Location::~Location() {
    if (dir_fd >= 0)
        close(dir_fd);
}

bool is_single_name(const char *text) {
    return text[0] != '\0' && strpbrk(text, "\\/:") == nullptr && strcmp(text, ".") != 0 &&
           strcmp(text, "..") != 0;
}

static DWORD locate_name(int dir_fd, const std::string &name, Location &where) {
    if (!is_valid_name(name))
        return ERROR_INVALID_NAME;
    if (is_device_name(name))
        return ERROR_ACCESS_DENIED;
    where.exists = find_entry(dir_fd, name, where.name);
    if (!where.exists)
        where.name = name;
    return ERROR_SUCCESS;
}

DWORD locate(const char *text, Location &where) {
    CurrentDir &state = current_dir();
    if (text == nullptr || text[0] == '\0')
        return ERROR_PATH_NOT_FOUND;
    if (strlen(text) >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (is_single_name(text)) {
        where.dir_fd = AT_FDCWD;
        if (is_valid_name(text) && !is_device_name(text) && find_reported_entry(text, where.entry)) {
            where.reported = where.exists = true;
            where.name = text;
            return ERROR_SUCCESS;
        }
        return locate_name(AT_FDCWD, text, where);
    }
    WindowsPath full;
    if (DWORD error = parse_windows_path(text, state.path, state.drives, false, full))
        return error;
    if (full.names.empty()) {
        where.is_root = true;
        return ERROR_SUCCESS;
    }
    where.dir_fd = open_windows_dir(full, full.names.size() - 1);
    if (where.dir_fd < 0)
        return ERROR_PATH_NOT_FOUND;
    return locate_name(where.dir_fd, full.names.back(), where);
}

} // namespace standin

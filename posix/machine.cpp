#include "machine.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace standin {

static DWORD last_error = ERROR_SUCCESS;

static std::string choose_machine_dir() {
    const char *named = getenv("UNINST_MACHINE");
    if (named != nullptr && named[0] != '\0')
        return named;
    // Never the host's root: without a home there is no machine at all.
    const char *home = getenv("HOME");
    if (home == nullptr || home[0] == '\0' || std::string(home) == "/")
        return std::string();
    return std::string(home) + "/.uninst-machine";
}

const std::string &machine_dir() {
    static const std::string dir = choose_machine_dir();
    return dir;
}

int machine_fd() {
    static const int fd = machine_dir().empty()
                              ? -1
                              : open(machine_dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

std::string drive_folder(char drive) {
    char lower = drive >= 'A' && drive <= 'Z' ? char(drive - 'A' + 'a') : drive;
    return std::string("drive_") + lower;
}

void set_last_error(DWORD code) { last_error = code; }

struct ErrnoMapping {
    int error;
    DWORD code;
};

static const ErrnoMapping errno_mappings[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ELOOP, ERROR_PATH_NOT_FOUND},     {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},      {EROFS, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},     {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EEXIST, ERROR_ALREADY_EXISTS},    {EBUSY, ERROR_SHARING_VIOLATION},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOSPC, ERROR_WRITE_FAULT},       {EIO, ERROR_WRITE_FAULT},
    {EINVAL, ERROR_INVALID_PARAMETER}, {EBADF, ERROR_INVALID_HANDLE},
};

DWORD error_from_errno(int error) {
    for (const ErrnoMapping &mapping : errno_mappings)
        if (mapping.error == error)
            return mapping.code;
    return ERROR_ACCESS_DENIED;
}

BOOL fail_with_errno() { return fail_with(error_from_errno(errno)); }

BOOL fail_with(DWORD code) {
    set_last_error(code);
    return FALSE;
}

} // namespace standin

extern "C" DWORD WINAPI GetLastError(void) { return standin::last_error; }

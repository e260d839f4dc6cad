// The log's file on the machine, opened by its Windows path.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "current_dir.h"
#include "machine.h"
#include "platform.h"

using namespace standin;

// A symbolic link planted at the log's place is never followed, so its
// target is neither emptied nor written; nor is anything but a plain file
// opened (a FIFO would hang the run), nor a file with a second name (a hard
// link planted there would have the run empty another program's file). A
// read-only log, or a folder that forbids creating it, refuses the open, as
// Windows refuses write access. Departure: Windows would follow both links.
FILE *log_file_open(const char *windows_path, int truncate) {
    Location where;
    if (locate(windows_path, where) != ERROR_SUCCESS || where.is_root)
        return nullptr;
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    flags |= truncate ? 0 : O_APPEND;
    struct stat info;
    if (where.exists) {
        if (fstatat(where.dir_fd, where.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || (info.st_mode & S_IWUSR) == 0)
            return nullptr;
    } else {
        int folder = where.dir_fd == AT_FDCWD ? open(".", O_PATH | O_CLOEXEC) : where.dir_fd;
        bool writable = fstat(folder, &info) == 0 && (info.st_mode & S_IWUSR) != 0;
        if (folder != where.dir_fd)
            close(folder);
        if (!writable)
            return nullptr;
    }
    int fd = openat(where.dir_fd, where.name.c_str(), flags, 0666);
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        fcntl(fd, F_SETFL, flags & O_APPEND) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    FILE *file = fdopen(fd, truncate ? "wb" : "ab");
    if (file == nullptr)
        close(fd);
    return file;
}

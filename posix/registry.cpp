// The registry functions of ADVAPI32 over registry.reg in the machine directory.
//
// Every call takes a lock on the machine directory, reads the file again if
// another process has replaced it since, and writes each change back before
// it returns, through a temporary file renamed into place, so that a crash
// never leaves half a registry behind and runs at once lose nothing. A file
// that cannot be parsed behaves as an empty registry and is never rewritten.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "machine.h"
#include "registry_file.h"

namespace standin {
namespace {

const char registry_name[] = "registry.reg";

struct HiveName {
    HKEY handle;
    const char *name;
};

const HiveName hives[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
};

// The file as last read: its identity tells whether another process has
// replaced it since.
struct LoadedRegistry {
    RegistryFile file;
    bool parsed = false;
    bool loaded = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    mode_t mode = 0644;
};

// Never destroyed: the process's end frees it at no cost, where tearing down
// a registry of many keys key by key would cost more than the run's own work.
LoadedRegistry &loaded = *new LoadedRegistry;

// Open keys by handle: each holds the names of its path from the hive down,
// read again at every use, as a key deleted meanwhile must be noticed.
std::map<uintptr_t, std::vector<std::string>> open_keys;
uintptr_t next_handle = 0x100;

bool same_identity(const struct stat &info) {
    return loaded.loaded && info.st_dev == loaded.device && info.st_ino == loaded.inode &&
           info.st_size == loaded.size && info.st_mtim.tv_sec == loaded.modified.tv_sec &&
           info.st_mtim.tv_nsec == loaded.modified.tv_nsec;
}

void remember_identity(const struct stat &info) {
    loaded.loaded = true;
    loaded.device = info.st_dev;
    loaded.inode = info.st_ino;
    loaded.size = info.st_size;
    loaded.modified = info.st_mtim;
    loaded.mode = info.st_mode & 07777;
}

// Reads the file straight into `text`, sized at first for `expected` bytes
// and grown if the file has grown since.
bool read_whole(int fd, off_t expected, RegistryText &text) {
    text.reserve(size_t(expected) + 2); // the parse adds a stop after the text
    text.resize(size_t(expected) + 1);
    size_t done = 0;
    for (;;) {
        if (done == text.size())
            text.resize(text.size() * 2);
        ssize_t got = read(fd, &text[done], text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += size_t(got);
    }
    text.resize(done);
    return true;
}

// Reads registry.reg again when it is not the file read last.
void refresh() {
    struct stat info;
    int fd = openat(machine_fd(), registry_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            close(fd);
        loaded.file = RegistryFile();
        loaded.parsed = fd < 0 && errno == ENOENT;
        loaded.loaded = false;
        return;
    }
    if (!same_identity(info)) {
        RegistryText text;
        loaded.file = RegistryFile();
        loaded.parsed = read_whole(fd, info.st_size, text) && loaded.file.parse(std::move(text));
        remember_identity(info);
    }
    close(fd);
}

bool write_all(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += size_t(put);
    }
    return true;
}

// Writes the registry's pieces straight from where they lie, without first
// gathering them into one buffer.
bool write_pieces(int fd, const std::vector<std::string_view> &pieces) {
    for (std::string_view piece : pieces)
        if (!write_all(fd, piece))
            return false;
    return true;
}

bool is_temporary_name(const char *name) {
    size_t prefix = strlen(registry_name);
    if (strncmp(name, registry_name, prefix) != 0 || name[prefix] != '.' ||
        strlen(name) != prefix + 7)
        return false;
    return strspn(name + prefix + 1, "0123456789abcdef") == 6;
}

// A process killed between creating its temporary file and renaming it
// leaves that file behind. Every save holds the machine's lock, so while it
// is held no temporary file is anyone's work in progress.
void remove_stale_temporaries() {
    int fd = openat(machine_fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        return;
    }
    while (struct dirent *entry = readdir(dir))
        if (is_temporary_name(entry->d_name))
            unlinkat(machine_fd(), entry->d_name, 0);
    closedir(dir);
}

// Replaces registry.reg whole: the new text goes to a temporary file in the
// same folder, which is then renamed over the old one.
bool save() {
    if (!loaded.parsed)
        return false;
    remove_stale_temporaries();
    char temporary[] = "registry.reg.XXXXXX";
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        snprintf(temporary + strlen(registry_name) + 1, 7, "%06x", unsigned(rand()) & 0xffffff);
        fd = openat(machine_fd(), temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = fchmod(fd, loaded.mode) == 0 && write_pieces(fd, loaded.file.pieces()) &&
              fstat(fd, &info) == 0;
    ok = close(fd) == 0 && ok && renameat(machine_fd(), temporary, machine_fd(), registry_name) == 0;
    if (!ok) {
        unlinkat(machine_fd(), temporary, 0);
        loaded.loaded = false; // what is in memory no longer matches the file
        return false;
    }
    remember_identity(info);
    return true;
}

// Holds the machine's registry lock for the duration of one call.
class RegistryLock {
  public:
    RegistryLock() {
        fd_ = machine_fd() < 0 ? -1 : openat(machine_fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (fd_ >= 0)
            refresh();
    }
    ~RegistryLock() {
        if (fd_ >= 0)
            close(fd_);
    }
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;

  private:
    int fd_;
};

bool hive_path(HKEY key, std::vector<std::string> &path) {
    for (const HiveName &hive : hives)
        if (hive.handle == key) {
            path.assign(1, hive.name);
            return true;
        }
    auto found = open_keys.find(uintptr_t(key));
    if (found == open_keys.end())
        return false;
    path = found->second;
    return true;
}

// Splits "a\b\c" into its names; false for an empty name anywhere.
bool split_subkey(const char *sub_key, std::vector<std::string> &path) {
    const char *name = sub_key;
    for (;;) {
        size_t length = strcspn(name, "\\");
        if (length == 0)
            return false;
        path.emplace_back(name, length);
        if (name[length] == '\0')
            return true;
        name += length + 1;
    }
}

RegistryKeyId find_key(const std::vector<std::string> &path) {
    std::string joined;
    for (const std::string &name : path) {
        if (!joined.empty())
            joined += '\\';
        joined += name;
    }
    return loaded.file.find(joined);
}

// The key that a handle stands for, or the error that Windows gives for it.
// A hive that the file does not name still opens, as an empty key
// (no_registry_key).
LONG key_of(HKEY handle, std::vector<std::string> &path, RegistryKeyId &key) {
    if (!hive_path(handle, path))
        return ERROR_INVALID_HANDLE;
    key = find_key(path);
    return key == no_registry_key && path.size() > 1 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

} // namespace
} // namespace standin

using namespace standin;

// Opens an existing key below `key`; never creates one. A null or empty
// `sub_key` hands back `key` itself, as Windows does. Errors: 6 for a handle
// that is not open, 1018 for a key deleted meanwhile, 2 for a missing key.
extern "C" LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    RegistryLock lock;
    std::vector<std::string> path;
    RegistryKeyId base;
    if (LONG error = key_of(key, path, base))
        return error;
    if (sub_key == nullptr || sub_key[0] == '\0') {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (!split_subkey(sub_key, path) || find_key(path) == no_registry_key)
        return ERROR_FILE_NOT_FOUND;
    open_keys[next_handle] = path;
    *result = HKEY(next_handle);
    next_handle += 4;
    return ERROR_SUCCESS;
}

// Reads a value: its type, and its data when `data` is given and
// `*data_size` holds them. Too small a buffer gives 234, the size needed and
// an untouched buffer; a missing value gives 2.
extern "C" LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type,
                                        LPBYTE data, LPDWORD data_size) {
    if (reserved != nullptr || (data != nullptr && data_size == nullptr))
        return ERROR_INVALID_PARAMETER;
    RegistryLock lock;
    std::vector<std::string> path;
    RegistryKeyId found;
    if (LONG error = key_of(key, path, found))
        return error;
    RegistryValue value;
    if (found == no_registry_key ||
        !loaded.file.value(found, value_name == nullptr ? "" : value_name, value))
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = value.type;
    DWORD needed = DWORD(value.data.size());
    LONG result = ERROR_SUCCESS;
    if (data != nullptr && *data_size < needed)
        result = ERROR_MORE_DATA;
    else if (data != nullptr)
        memcpy(data, value.data.data(), needed);
    if (data_size != nullptr)
        *data_size = needed;
    return result;
}

// Deletes one key below `key`, with its values, and writes the registry
// back. A key with subkeys is refused with 5, a missing one with 2; a
// registry file that cannot be written gives 1013 and changes nothing.
// Departure: Windows reads an empty `sub_key` as `key` itself; here it is 87.
extern "C" LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
    RegistryLock lock;
    std::vector<std::string> path;
    RegistryKeyId base;
    if (LONG error = key_of(key, path, base))
        return error;
    if (sub_key == nullptr || sub_key[0] == '\0')
        return ERROR_INVALID_PARAMETER;
    RegistryKeyId doomed = split_subkey(sub_key, path) ? find_key(path) : no_registry_key;
    if (doomed == no_registry_key)
        return ERROR_FILE_NOT_FOUND;
    if (loaded.file.subkey_count(doomed) != 0)
        return ERROR_ACCESS_DENIED;
    loaded.file.remove(doomed);
    return save() ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// Releases a handle that RegOpenKeyA gave. A handle never opened, or closed
// already, gives 6; the predefined root keys close without effect.
extern "C" LONG WINAPI RegCloseKey(HKEY key) {
    for (const HiveName &hive : hives)
        if (hive.handle == key)
            return ERROR_SUCCESS;
    return open_keys.erase(uintptr_t(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// The Windows directory, the message box, the last error and the log's file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

#include "double_state.h"

namespace platform_double {
namespace detail {

static std::string log_folder() {
    std::string &folder = state().log_folder;
    if (folder.empty()) {
        char name[] = "/tmp/platform-double-XXXXXX";
        if (mkdtemp(name) == nullptr)
            ADD_FAILURE() << "cannot make a folder for the log";
        folder = name;
    }
    return folder;
}

// One host file for each Windows path, letter case aside, named by the
// path's length and hash: a child and its parent agree on it, and even a
// path of 255 characters gives a short host name.
static std::string host_file(const std::string &windows_path) {
    std::string key = upper(windows_path);
    std::ostringstream name;
    name << "log-" << key.size() << "-" << std::hex << std::hash<std::string>()(key);
    return log_folder() + "/" + name.str();
}

void reset_log_folder() {
    std::string folder = state().log_folder;
    state().log_folder.clear();
    if (folder.empty())
        return;
    if (DIR *listing = opendir(folder.c_str())) {
        while (dirent *entry = readdir(listing))
            if (entry->d_name[0] != '.')
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(listing);
    }
    rmdir(folder.c_str());
}

} // namespace detail

using namespace detail;

void set_windows_directory(std::optional<std::string> path) {
    state().windows_dir = path;
}

void set_message_box_result(int result) {
    state().box_result = result;
}

std::optional<std::string> log_bytes(const std::string &windows_path) {
    std::ifstream file(host_file(windows_path), std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void set_log_bytes(const std::string &windows_path, const std::string &bytes) {
    std::ofstream(host_file(windows_path), std::ios::binary) << bytes;
}

} // namespace platform_double

using namespace platform_double;
using namespace platform_double::detail;

// Copies the Windows directory with its terminator and returns its length;
// when `size` is too small, returns the size it needs, buffer untouched. A
// directory set to fail returns 0, buffer untouched.
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    Record record{Call::get_windows_directory};
    if (inject(record) || !state().windows_dir) {
        state().last_error = ERROR_ACCESS_DENIED;
        return UINT(finish(record));
    }
    const std::string &path = *state().windows_dir;
    copy_out(path, buffer, size, record);
    return UINT(finish(record));
}

// Shows nothing: records the box and returns what the test set (IDOK by
// default, 0 for a box that cannot be shown).
int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    Record record{Call::message_box, text_of(text), text_of(caption)};
    record.type = type;
    record.result = inject(record) ? 0 : state().box_result;
    return int(finish(record));
}

// The error of the latest failed call of the double.
DWORD WINAPI GetLastError(void) {
    Record record{Call::get_last_error};
    inject(record);
    record.result = long(state().last_error);
    return DWORD(finish(record));
}

// Opens the host file kept for the Windows path, emptied or appended to.
FILE *log_file_open(const char *windows_path, int truncate) {
    Record record{Call::log_file_open, text_of(windows_path), truncate ? "truncate" : "append"};
    FILE *file = nullptr;
    if (!inject(record))
        file = std::fopen(host_file(record.text).c_str(), truncate ? "wb" : "ab");
    record.result = file != nullptr;
    finish(record);
    return file;
}

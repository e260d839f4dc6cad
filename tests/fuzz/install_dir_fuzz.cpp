// Fuzz target: a stored open command, through the cut to the installation
// directory, the refusal of unsafe directories, and the directory message as
// the log stores it.
//
// The first input byte picks the Windows directory to vet against; the rest
// is the value's data as the registry query hands it over (at most 255 bytes,
// not necessarily terminated). Whatever the input: nothing is written outside
// a buffer, a directory that passes the vetting is a fully qualified local
// path that cannot reach the Windows directory, and the log holds the message
// exactly, each line feed as CR LF.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "install_dir.h"
#include "log.h"

namespace {

const char *const windows_dirs[] = {"C:\\WINDOWS", "C:\\WINDOWS\\", "c:\\winnt", "D:\\W", "C:\\",
                                    ""};

// The log's bytes: each message, with its line feeds doubled, fits many times.
char log_bytes[2048];

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

std::string upper_text(std::string text) {
    for (char &c : text)
        c = upper(c);
    return text;
}

void fail(const char *what, const char *dir, const char *windows_dir) {
    fprintf(stderr, "%s: dir \"%s\", Windows directory \"%s\"\n", what, dir, windows_dir);
    abort();
}

// True when one path is the other or lies below it, letter case aside.
bool nested(std::string a, std::string b) {
    while (!a.empty() && a.back() == '\\')
        a.pop_back();
    while (!b.empty() && b.back() == '\\')
        b.pop_back();
    if (a.size() > b.size())
        std::swap(a, b);
    a = upper_text(a);
    b = upper_text(b);
    return b.compare(0, a.size(), a) == 0 && (b.size() == a.size() || b[a.size()] == '\\');
}

// Every name below the drive's root: not empty, not "." or "..", no
// trailing dot or space, no character that Windows reads otherwise.
bool names_are_plain(const std::string &dir) {
    size_t begin = 3;
    while (begin <= dir.size()) {
        size_t end = dir.find('\\', begin);
        std::string name = dir.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (name.empty() || name.back() == '.' || name.back() == ' ')
            return false;
        for (unsigned char c : name)
            if (c < 0x20 || strchr("\"<>|?*:/", c) != nullptr)
                return false;
        if (end == std::string::npos)
            return true;
        begin = end + 1;
    }
    return false;
}

void check_vetting(const char *dir, const char *windows_dir) {
    if (!is_safe_to_empty(dir, windows_dir))
        return;
    std::string text = dir;
    char drive = upper(text[0]);
    if (text.size() < 4 || drive < 'A' || drive > 'Z' || text[1] != ':' || text[2] != '\\')
        fail("accepted a path that is not fully qualified", dir, windows_dir);
    if (!names_are_plain(text))
        fail("accepted a name that Windows reads otherwise", dir, windows_dir);
    if (windows_dir[0] == '\0' || nested(text, windows_dir))
        fail("accepted a path that reaches the Windows directory", dir, windows_dir);
}

void check_message(const char *dir) {
    std::string expected = "<";
    for (const char *c = dir; *c != '\0'; ++c)
        expected += *c == '\n' ? std::string("\r\n") : std::string(1, *c);
    expected += "> is removed\r\n";
    first_write = true;
    log_printf("<%s> is removed\n", dir);
    if (std::string(log_bytes, strnlen(log_bytes, sizeof log_bytes)) != expected)
        fail("the log does not hold the message", dir, "");
}

} // namespace

// The log's file, in memory: each open starts it again or appends to it. A
// memory stream ends what was written with a NUL, and no message holds one.
FILE *log_file_open(const char *, int truncate) {
    if (truncate)
        memset(log_bytes, 0, sizeof log_bytes);
    size_t length = strnlen(log_bytes, sizeof log_bytes);
    return fmemopen(log_bytes + length, sizeof log_bytes - length, "w");
}

// The log's set-up is not exercised here; the log's module needs the query
// to link, and it answers as the stand-in's machine would.
extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return UINT(snprintf(buffer, size, "%s", windows_dirs[0]));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const char *windows_dir = windows_dirs[data[0] % (sizeof windows_dirs / sizeof *windows_dirs)];
    static char install_dir[install_dir_size];
    memset(install_dir, 0, sizeof install_dir);
    // A value larger than the query's capacity fails the query, which
    // leaves the installation directory empty.
    if (size - 1 <= install_dir_query_size)
        memcpy(install_dir, data + 1, size - 1);
    cut_at_last_backslash(install_dir);
    if (install_dir[install_dir_size - 1] != '\0' || strlen(install_dir) > 254)
        fail("the cut left more than 254 characters", install_dir, windows_dir);
    check_vetting(install_dir, windows_dir);
    check_message(install_dir);
    return 0;
}

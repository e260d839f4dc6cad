#include "install_dir.h"

#include <string.h>

// Folders that hold many programs' files: removing one because a product
// named it would take every other product's files with it.
static const char *const shared_roots[] = {
    "Program Files", "Program Files (x86)", "ProgramData", "Users", "Documents and Settings",
};

// Names that Windows opens as devices, whatever extension follows them.
static const char *const device_names[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

void cut_at_last_backslash(char *text) {
    char *last = strrchr(text, '\\');
    if (last != NULL)
        *last = '\0';
    else
        text[0] = '\0';
}

static char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

static bool same_text(const char *a, const char *b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

// True when `inner` is `outer` or lies below it, letter case aside.
static bool is_within(const char *inner, size_t inner_length, const char *outer,
                      size_t outer_length) {
    if (inner_length < outer_length || !same_text(inner, outer, outer_length))
        return false;
    return inner_length == outer_length || inner[outer_length] == '\\';
}

static bool is_forbidden_char(unsigned char c) {
    return c < 0x20 || strchr("\"<>|?*:/", c) != NULL;
}

static bool is_device_name(const char *name, size_t length) {
    size_t stem = 0;
    while (stem < length && name[stem] != '.')
        ++stem;
    for (const char *device : device_names)
        if (stem == strlen(device) && same_text(name, device, stem))
            return true;
    return false;
}

// Windows quietly drops trailing dots and spaces and reads "NAME~1" as the
// short name of another entry, so "C:\WINDOWS." or "C:\WINDOW~1" would reach
// the Windows directory under another spelling.
static bool is_plain_name(const char *name, size_t length) {
    if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ')
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (is_forbidden_char((unsigned char)name[i]))
            return false;
        if (name[i] == '~' && i + 1 < length && name[i + 1] >= '0' && name[i + 1] <= '9')
            return false;
    }
    return !is_device_name(name, length);
}

static bool is_fully_qualified(const char *dir) {
    char drive = upper(dir[0]);
    if (drive < 'A' || drive > 'Z' || dir[1] != ':' || dir[2] != '\\')
        return false;
    const char *name = dir + 3;
    for (;;) {
        size_t length = strcspn(name, "\\");
        if (!is_plain_name(name, length))
            return false;
        if (name[length] == '\0')
            return true;
        name += length + 1;
    }
}

static bool is_shared_root(const char *dir) {
    for (const char *root : shared_roots)
        if (strlen(dir + 3) == strlen(root) && same_text(dir + 3, root, strlen(root)))
            return true;
    return false;
}

bool is_safe_to_empty(const char *dir, const char *windows_dir) {
    if (!is_fully_qualified(dir) || is_shared_root(dir))
        return false;
    size_t windows_length = strlen(windows_dir);
    while (windows_length > 0 && windows_dir[windows_length - 1] == '\\')
        --windows_length;
    // Without a Windows directory to compare with, nothing counts as safe.
    if (windows_length == 0)
        return false;
    size_t dir_length = strlen(dir);
    return !is_within(dir, dir_length, windows_dir, windows_length) &&
           !is_within(windows_dir, windows_length, dir, dir_length);
}

// The uninstall run: the program's entry point and the fixed order of its
// steps. Nothing is read from the command line, the environment or the user.
#include <string.h>

#include "install_dir.h"
#include "log.h"
#include "platform.h"
#include "tree.h"

enum { saved_dir_size = 256, windows_dir_size = 256 };
static const DWORD saved_dir_query_size = 255;

static const char extension_key[] = ".zvx";
static const char progid_key[] = "Zelvorant";
static const char shell_key[] = "shell";
static const char open_key[] = "open";
static const char command_key[] = "command";
static const char mime_key[] = "MIME";
static const char database_key[] = "Database";
static const char content_type_key[] = "Content Type";
static const char mime_type_key[] = "application/x-zelvorant";

static const char notice_text[] = "The 3D presentations viewer has been removed from this computer\n";
static const char notice_caption[] = "Zelvorant Uninstall";

char install_dir[install_dir_size];
char saved_dir[saved_dir_size];

static void delete_extension_key() {
    if (RegDeleteKeyA(HKEY_CLASSES_ROOT, extension_key) == ERROR_SUCCESS)
        log_printf("HKEY_CLASSES_ROOT\\\".zvx\" removed\n");
}

// A failed query may still have left part of a value that did not fit, and a
// cut of that part could name a parent of the real directory: only a
// successful query is used.
static void read_install_dir(HKEY command) {
    DWORD type;
    DWORD size = install_dir_query_size;
    if (RegQueryValueExA(command, NULL, NULL, &type, (LPBYTE)install_dir, &size) != ERROR_SUCCESS)
        install_dir[0] = '\0';
    cut_at_last_backslash(install_dir);
}

// "command" is deleted whenever "open" could be opened, also when "command"
// itself could not be.
static void delete_open_chain(HKEY shell) {
    HKEY open, command;
    if (RegOpenKeyA(shell, open_key, &open) != ERROR_SUCCESS)
        return;
    if (RegOpenKeyA(open, command_key, &command) == ERROR_SUCCESS) {
        read_install_dir(command);
        RegCloseKey(command);
    }
    RegDeleteKeyA(open, command_key);
    RegCloseKey(open);
    RegDeleteKeyA(shell, open_key);
}

// Each key goes through the handle of the key above it, deepest first, after
// its own handle has been closed.
static void delete_progid_chain() {
    HKEY progid, shell;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, progid_key, &progid) != ERROR_SUCCESS)
        return;
    if (RegOpenKeyA(progid, shell_key, &shell) == ERROR_SUCCESS) {
        delete_open_chain(shell);
        RegCloseKey(shell);
        RegDeleteKeyA(progid, shell_key);
    }
    RegCloseKey(progid);
    if (RegDeleteKeyA(HKEY_CLASSES_ROOT, progid_key) == ERROR_SUCCESS)
        log_printf("HKEY_CLASSES_ROOT\\Zelvorant removed\n");
}

static void delete_mime_type(HKEY database) {
    HKEY content_type;
    if (RegOpenKeyA(database, content_type_key, &content_type) != ERROR_SUCCESS)
        return;
    if (RegDeleteKeyA(content_type, mime_type_key) == ERROR_SUCCESS)
        log_printf("HKEY_CLASSES_ROOT\\MIME\\Database\\\"Content Type\"\\application/x-zelvorant\" "
                   "removed\n");
    RegCloseKey(content_type);
}

// "MIME", "Database" and "Content Type" are shared by every program that
// registers a type: only the product's own type below them goes.
static void delete_mime_key() {
    HKEY mime, database;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, mime_key, &mime) != ERROR_SUCCESS)
        return;
    if (RegOpenKeyA(mime, database_key, &database) == ERROR_SUCCESS) {
        delete_mime_type(database);
        RegCloseKey(database);
    }
    RegCloseKey(mime);
}

// A directory that cannot be vetted against the Windows directory, or that
// fails the vetting, is dropped: no installation directory was found.
static void refuse_unsafe_install_dir() {
    char windows_dir[windows_dir_size] = "";
    GetWindowsDirectoryA(windows_dir, windows_dir_size);
    windows_dir[windows_dir_size - 1] = '\0';
    if (!is_safe_to_empty(install_dir, windows_dir))
        install_dir[0] = '\0';
}

// The directory is removed by its full name once its contents are gone and
// the saved directory is current again; the message is logged only when the
// directory itself is gone.
static void delete_install_dir() {
    if (install_dir[0] == '\0')
        return;
    GetCurrentDirectoryA(saved_dir_query_size, saved_dir);
    if (!SetCurrentDirectoryA(install_dir))
        return;
    delete_tree();
    SetCurrentDirectoryA(saved_dir);
    if (RemoveDirectoryA(install_dir))
        log_printf("<%s> is removed\n", install_dir);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    log_init();
    delete_extension_key();
    delete_progid_chain();
    delete_mime_key();
    refuse_unsafe_install_dir();
    delete_install_dir();
    return MessageBoxA(NULL, notice_text, notice_caption, MB_OK);
}

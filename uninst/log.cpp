#include "log.h"

#include <stdarg.h>
#include <string.h>

#include "platform.h"

// The Windows directory may use 231 characters of log_path: with the file's
// name appended the longest path then fills the buffer exactly.
static const unsigned windows_dir_capacity = 232;
static const char log_file_name[] = "\\ZELVORANT_UNINSTALL.LOG";

// Large enough for the longest message the run produces: the directory
// message around an installation directory of 254 characters, 268 in all.
static const size_t message_size = 269;

char log_path[log_path_size];
bool first_write = true;

void log_init() {
    GetWindowsDirectoryA(log_path, windows_dir_capacity);
    // Whatever the query left is used: even a failed one leaves a terminated
    // string within the first 232 bytes, so the name always fits behind it.
    log_path[windows_dir_capacity - 1] = '\0';
    strcat(log_path, log_file_name);
}

void log_printf(const char *format, ...) {
    char message[message_size];
    va_list values;
    va_start(values, format);
    vsnprintf(message, sizeof message, format, values);
    va_end(values);
    log_write(message);
}

// Line feeds become CR LF here, in binary mode, so that the file holds the
// same bytes on every platform.
static void write_with_crlf(FILE *file, const char *text) {
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '\n')
            putc('\r', file);
        putc(*c, file);
    }
}

void log_write(const char *text) {
    FILE *file = log_file_open(log_path, first_write);
    first_write = false;
    if (file == NULL)
        return;
    write_with_crlf(file, text);
    fclose(file);
}

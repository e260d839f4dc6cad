// The uninstall log: ZELVORANT_UNINSTALL.LOG in the Windows directory, holding
// the messages of the latest run that logged anything, each line feed stored
// as CR LF.
#ifndef UNINST_LOG_H
#define UNINST_LOG_H

#include <stddef.h>

enum { log_path_size = 256 };

extern char log_path[log_path_size];
extern bool first_write;

// Fixes where the log lives. Called once, before any message.
void log_init();

// Formats one message printf-style and adds it to the log.
void log_printf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Adds one finished text to the log: the run's first text replaces what an
// earlier run left, every later one is appended.
void log_write(const char *text);

#endif

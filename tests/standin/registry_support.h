// Reading the registry through the stand-in's ADVAPI32 functions, for tests.
#ifndef UNINST_TESTS_STANDIN_REGISTRY_SUPPORT_H
#define UNINST_TESTS_STANDIN_REGISTRY_SUPPORT_H

#include <string>

#include <windows.h>

// What RegQueryValueExA gave for one value.
struct QueriedValue {
    LONG result = -1;
    DWORD type = REG_NONE;
    std::string data;
};

// Opens `key_path` below `root` (all levels at once), reads `value_name`
// (null for the default value) into a roomy buffer and closes the key.
QueriedValue query_value(HKEY root, const char *key_path, const char *value_name);

// RegOpenKeyA's result for `key_path` below `root`; the key is closed again.
LONG open_result(HKEY root, const char *key_path);

// Bytes shown as hex pairs, for failure messages.
std::string hex_bytes(const std::string &bytes);

#endif

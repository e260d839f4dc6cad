#include "registry_support.h"

#include <stdio.h>

QueriedValue query_value(HKEY root, const char *key_path, const char *value_name) {
    QueriedValue queried;
    HKEY key;
    queried.result = RegOpenKeyA(root, key_path, &key);
    if (queried.result != ERROR_SUCCESS)
        return queried;
    BYTE buffer[1024];
    DWORD size = sizeof buffer;
    queried.result = RegQueryValueExA(key, value_name, nullptr, &queried.type, buffer, &size);
    if (queried.result == ERROR_SUCCESS)
        queried.data.assign(reinterpret_cast<const char *>(buffer), size);
    RegCloseKey(key);
    return queried;
}

LONG open_result(HKEY root, const char *key_path) {
    HKEY key;
    LONG result = RegOpenKeyA(root, key_path, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

std::string hex_bytes(const std::string &bytes) {
    std::string text;
    for (unsigned char byte : bytes) {
        char pair[4];
        snprintf(pair, sizeof pair, "%02x ", byte);
        text += pair;
    }
    return text;
}

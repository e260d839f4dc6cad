// Fuzz target: the stand-in's reader and writer of registry.reg.
//
// The input is a registry file. When it parses, some keys without subkeys
// (those picked by a hash of their names, as RegDeleteKeyA would delete
// them) are removed and the file is written back. The written text must
// parse again, to the same keys less the removed ones and with the very same
// values in every key left. A text that does not parse must leave an empty
// registry.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "registry_file.h"

using standin::RegistryFile;
using standin::RegistryKeyId;
using standin::RegistryValue;

namespace {

typedef std::vector<std::tuple<std::string, DWORD, std::string>> Values;

// How many names the key's path has: 1 for a hive.
size_t depth(const RegistryFile &file, RegistryKeyId key) {
    std::string name = file.full_name(key);
    return size_t(std::count(name.begin(), name.end(), '\\')) + 1;
}

// Every key below the hives, by its full name in upper case, with its values.
std::map<std::string, Values> collect(const RegistryFile &file) {
    std::map<std::string, Values> keys;
    for (RegistryKeyId key : file.keys()) {
        if (depth(file, key) < 2)
            continue;
        Values &values = keys[standin::upper_name(file.full_name(key))];
        for (const RegistryValue &v : file.values(key))
            values.emplace_back(standin::upper_name(v.name), v.type, v.data);
    }
    return keys;
}

// The keys below the hives, deepest first, so that a parent emptied by the
// removal of its last child may go in the same pass.
std::vector<RegistryKeyId> deepest_first(const RegistryFile &file) {
    std::vector<std::pair<size_t, RegistryKeyId>> by_depth;
    for (RegistryKeyId key : file.keys())
        if (depth(file, key) >= 2)
            by_depth.emplace_back(depth(file, key), key);
    std::sort(by_depth.rbegin(), by_depth.rend());
    std::vector<RegistryKeyId> out;
    for (const auto &leaf : by_depth)
        out.push_back(leaf.second);
    return out;
}

uint32_t name_hash(const std::string &name, uint32_t seed) {
    uint32_t hash = seed;
    for (unsigned char c : name)
        hash = hash * 31 + c;
    return hash;
}

void fail(const char *what, const std::string &detail) {
    fprintf(stderr, "%s: %s\n", what, detail.c_str());
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    RegistryFile file;
    if (!file.parse(text)) {
        if (!file.keys().empty())
            fail("a text that does not parse left keys", text);
        return 0;
    }
    std::map<std::string, Values> expected = collect(file);
    uint32_t seed = uint32_t(size);
    for (RegistryKeyId key : deepest_first(file)) {
        if (file.subkey_count(key) != 0 || name_hash(file.full_name(key), seed) % 3 != 0)
            continue;
        expected.erase(standin::upper_name(file.full_name(key)));
        file.remove(key);
    }
    std::string written = file.serialize();
    RegistryFile again;
    if (!again.parse(written))
        fail("the written file does not parse", written);
    std::map<std::string, Values> actual = collect(again);
    if (actual != expected)
        fail("the written file holds other keys or values", written);
    return 0;
}

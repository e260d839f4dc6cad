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

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "registry_file.h"

using standin::RegistryFile;
using standin::RegistryKey;
using standin::RegistryValue;

namespace {

typedef std::vector<std::tuple<std::string, DWORD, std::string>> Values;

// Every key below the hives, by its full name in upper case, with its values.
void collect(const RegistryKey &key, int depth, std::map<std::string, Values> &keys) {
    for (const auto &child : key.children) {
        if (depth >= 1) {
            Values &values = keys[standin::upper_name(child.second->full_name())];
            for (const RegistryValue &v : child.second->values)
                values.emplace_back(standin::upper_name(v.name), v.type, v.data);
        }
        collect(*child.second, depth + 1, keys);
    }
}

// The leaves below the hives, deepest first, so that a parent emptied by
// the removal of its last child may go in the same pass.
void leaves(RegistryKey &key, int depth, std::vector<RegistryKey *> &out) {
    for (auto &child : key.children)
        leaves(*child.second, depth + 1, out);
    if (depth >= 2 && key.children.empty())
        out.push_back(&key);
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
        if (!file.top().children.empty())
            fail("a text that does not parse left keys", text);
        return 0;
    }
    std::map<std::string, Values> expected;
    collect(file.top(), 0, expected);
    std::vector<RegistryKey *> candidates;
    leaves(file.top(), 0, candidates);
    uint32_t seed = uint32_t(size);
    for (RegistryKey *key : candidates) {
        if (!key->children.empty() || name_hash(key->full_name(), seed) % 3 != 0)
            continue;
        expected.erase(standin::upper_name(key->full_name()));
        file.remove(key);
    }
    std::string written = file.serialize();
    RegistryFile again;
    if (!again.parse(written))
        fail("the written file does not parse", written);
    std::map<std::string, Values> actual;
    collect(again.top(), 0, actual);
    if (actual != expected)
        fail("the written file holds other keys or values", written);
    return 0;
}

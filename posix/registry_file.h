// The registry file, registry.reg, in regedit's text format: read into a tree
// of keys, and written back as the bytes it was read from less the sections of
// the keys that were deleted, so that every other key and value survives with
// its type, its data and its very spelling.
#ifndef UNINST_POSIX_REGISTRY_FILE_H
#define UNINST_POSIX_REGISTRY_FILE_H

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <windows.h>

namespace standin {

struct RegistryValue {
    std::string name; // empty for the default value, written "@"
    DWORD type = REG_SZ;
    std::string data; // the bytes that RegQueryValueExA returns
};

struct RegistryKey {
    std::string name; // as the file spells it
    RegistryKey *parent = nullptr;
    std::vector<RegistryValue> values;
    std::unordered_map<std::string, std::unique_ptr<RegistryKey>> children; // by upper-case name
    bool has_section = false;

    RegistryKey *child(const std::string &name) const;
    const RegistryValue *value(const std::string &name) const;
    std::string full_name() const;
};

// One "[...]" section of the file: a byte range of the text read, or a header
// written for a key that had none of its own.
struct RegistrySection {
    size_t begin = 0, end = 0;
    RegistryKey *key = nullptr;
    std::string written;
};

class RegistryFile {
  public:
    // Reads regedit text; false (and an empty registry) when it cannot be parsed.
    bool parse(std::string text);

    // The root keys (HKEY_CLASSES_ROOT, ...) hang below this one.
    RegistryKey &top() { return top_; }

    // Removes a key that has no subkeys, with its values.
    void remove(RegistryKey *key);

    // The file's new bytes: what was read, less the deleted keys' sections.
    std::string serialize() const;

    // The same bytes as pieces of what was read (and of written headers),
    // neighbours joined, so that a large file is written without a copy.
    std::vector<std::string_view> pieces() const;

  private:
    bool parse_line(size_t begin, size_t end, size_t &next);
    bool parse_header(size_t line_begin, size_t begin, size_t end);
    bool parse_value(size_t &begin, size_t end, size_t &next);
    RegistryKey *make_key(const std::string &path);
    RegistryKey *shared_key(const std::string &path, size_t &begin);

    std::string text_;
    std::string newline_ = "\r\n";
    bool version5_ = false;
    size_t preamble_end_ = 0;
    std::vector<RegistrySection> sections_;
    RegistryKey top_;
    RegistryKey *current_ = nullptr;
    RegistryKey *last_key_ = nullptr; // made last, from the header `last_path_`
    std::string last_path_;
};

std::string upper_name(const std::string &name);

} // namespace standin

#endif

// The registry file, registry.reg, in regedit's text format: indexed where it
// lies, and written back as the bytes it was read from less the sections of
// the keys that were deleted, so that every other key and value survives with
// its type, its data and its very spelling.
//
// A registry holds many keys and a run looks at a handful, so reading it
// builds no object per key: each key is a small record found through a flat
// hash table by its upper-cased path, its name is a byte range of the text,
// and its values are read from its sections only when asked for. The whole
// text is still checked when it is read, so that a file that cannot be parsed
// is known at once.
#ifndef UNINST_POSIX_REGISTRY_FILE_H
#define UNINST_POSIX_REGISTRY_FILE_H

#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "huge_pages.h"

namespace standin {

struct RegistryValue {
    std::string name; // empty for the default value, written "@"
    DWORD type = REG_SZ;
    std::string data; // the bytes that RegQueryValueExA returns
};

// The bytes of a registry file, on huge pages, left uninitialised when grown
// since they are about to be read into.
typedef std::vector<char, HugePageAllocator<char>> RegistryText;

// A key of the registry read: an index that stays valid until the next parse.
typedef uint32_t RegistryKeyId;
const RegistryKeyId no_registry_key = UINT32_MAX;

class RegistryFile {
  public:
    RegistryFile() = default;
    RegistryFile(RegistryFile &&) = default;
    RegistryFile &operator=(RegistryFile &&) = default;
    RegistryFile(const RegistryFile &) = delete; // would share the text it points into
    RegistryFile &operator=(const RegistryFile &) = delete;

    // Reads regedit text; false (and an empty registry) when it cannot be parsed.
    bool parse(RegistryText text);
    bool parse(std::string_view text); // the same, on a copy

    // The key that `path` names ("HKEY_CLASSES_ROOT\a\b"), ASCII letters
    // matching either case; no_registry_key when it is missing or deleted.
    RegistryKeyId find(std::string_view path) const;

    // Every key present (hives included), in no particular order.
    std::vector<RegistryKeyId> keys() const;

    size_t subkey_count(RegistryKeyId key) const;

    // The key's path, each name spelled as the file first spelled it.
    std::string full_name(RegistryKeyId key) const;

    // The value named `name` (either case) of `key`, the last one the file
    // gives it; false when there is none.
    bool value(RegistryKeyId key, std::string_view name, RegistryValue &out) const;

    // Every value of `key`, each name once, with the data the file gives it last.
    std::vector<RegistryValue> values(RegistryKeyId key) const;

    // Removes a key that has no subkeys, with its values.
    void remove(RegistryKeyId key);

    // The file's new bytes: what was read, less the deleted keys' sections.
    std::string serialize() const;

    // The same bytes as pieces of what was read (and of written headers),
    // neighbours joined, so that a large file is written without a copy.
    std::vector<std::string_view> pieces() const;

  private:
    struct Key {
        size_t path_begin = 0; // the path's bytes in the text read
        uint32_t path_size = 0;
        uint32_t hash = 0;
        RegistryKeyId parent = no_registry_key; // none for a hive
        uint32_t subkeys = 0;
        uint32_t first_section = UINT32_MAX; // then linked by Section::next_of_key
        uint32_t last_section = UINT32_MAX;
        bool has_header = false;
        bool removed = false;
    };
    // One "[...]" section of the file: a byte range of the text read.
    struct Section {
        size_t begin = 0, end = 0;
        RegistryKeyId key = no_registry_key;
        uint32_t next_of_key = UINT32_MAX;
    };
    // A header written for a key that had none of its own, placed before
    // the section numbered `before`.
    struct WrittenHeader {
        size_t before = 0;
        RegistryKeyId key = no_registry_key;
        std::string text;
    };

    bool parse_line(size_t begin, size_t end, size_t &next);
    bool parse_header(size_t line_begin, size_t begin, size_t end);
    bool parse_value(size_t begin, size_t end, size_t &next, RegistryValue &value) const;
    RegistryKeyId make_key(size_t path_begin, size_t path_size);
    size_t shared_with_last(std::string_view path, RegistryKeyId &shared) const;
    RegistryKeyId add_key(size_t path_begin, size_t path_size, uint32_t hash, RegistryKeyId parent);
    RegistryKeyId lookup(std::string_view path, uint32_t hash) const;
    void insert(RegistryKeyId key);
    std::string_view path(const Key &key) const;
    template <typename Visit> void each_value(const Key &key, Visit visit) const;

    RegistryText buffer_;
    std::string_view text_; // buffer_ less the stop after it
    std::string newline_ = "\r\n";
    bool version5_ = false;
    size_t preamble_end_ = 0;
    std::vector<Section, HugePageAllocator<Section>> sections_;
    std::vector<Key, HugePageAllocator<Key>> keys_;
    struct Slot {
        uint32_t hash = 0;
        RegistryKeyId id = no_registry_key; // none in a free slot
    };
    std::vector<Slot, HugePageAllocator<Slot>> table_; // the keys by the hash of their upper-cased path
    std::vector<WrittenHeader> written_;
    RegistryKeyId current_ = no_registry_key;
    RegistryKeyId last_ = no_registry_key; // made for the header before
    RegistryValue scratch_; // what a value line parses into while the file is checked
};

std::string upper_name(const std::string &name);

} // namespace standin

#endif

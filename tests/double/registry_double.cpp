// The registry below HKEY_CLASSES_ROOT: keys with an optional default value,
// opened one handle at a time and deleted one leaf at a time.
#include <algorithm>
#include <cstring>

#include "double_state.h"

namespace platform_double {
namespace detail {

void reset_registry() {
    state().classes_root = std::make_shared<Key>();
    state().classes_root->name = "HKEY_CLASSES_ROOT";
}

std::string key_path(const Key &key) {
    if (key.parent == nullptr)
        return key.name;
    return key_path(*key.parent) + "\\" + key.name;
}

// Key names are separated by backslashes only: "application/x-zelvorant" is
// one name.
static std::vector<std::string> key_names(const std::string &path) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        names.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return names;
        start = end + 1;
    }
}

static std::shared_ptr<Key> find_subkey(const Key &key, const std::string &name) {
    for (const auto &subkey : key.subkeys)
        if (same_name(subkey->name, name))
            return subkey;
    return nullptr;
}

static std::shared_ptr<Key> find_key_below(std::shared_ptr<Key> key, const std::string &path) {
    for (const std::string &name : key_names(path)) {
        if (key == nullptr || name.empty())
            return nullptr;
        key = find_subkey(*key, name);
    }
    return key;
}

static std::shared_ptr<Key> make_key(const std::string &path) {
    std::shared_ptr<Key> key = state().classes_root;
    for (const std::string &name : key_names(path)) {
        std::shared_ptr<Key> subkey = find_subkey(*key, name);
        if (subkey == nullptr) {
            subkey = std::make_shared<Key>();
            subkey->name = name;
            subkey->parent = key.get();
            key->subkeys.push_back(subkey);
        }
        key = subkey;
    }
    return key;
}

// The key a handle stands for, or null with the misuse recorded: a handle
// that was closed or never opened is the program's fault, not the platform's.
static std::shared_ptr<Key> key_of(HKEY handle, const char *call) {
    uintptr_t value = (uintptr_t)handle;
    if (handle == HKEY_CLASSES_ROOT)
        return state().classes_root;
    auto open = state().open_keys.find(value);
    if (open != state().open_keys.end())
        return open->second;
    bool closed = state().closed_keys.count(value) != 0;
    program_fault(std::string(call) + " on " + handle_name(value) +
                  (closed ? ", a handle already closed" : ", a handle never opened"));
    return nullptr;
}

} // namespace detail

using namespace detail;

void add_key(const std::string &path) {
    make_key(path);
}

void set_text_value(const std::string &path, const std::string &text) {
    make_key(path)->value = text + '\0';
}

void set_raw_value(const std::string &path, const std::string &bytes) {
    make_key(path)->value = bytes;
}

bool key_exists(const std::string &path) {
    return find_key_below(state().classes_root, path) != nullptr;
}

static void list_keys(const Key &key, const std::string &prefix, std::vector<std::string> &out) {
    for (const auto &subkey : key.subkeys) {
        std::string path = prefix.empty() ? subkey->name : prefix + "\\" + subkey->name;
        out.push_back(path);
        list_keys(*subkey, path, out);
    }
}

std::vector<std::string> all_keys() {
    std::vector<std::string> keys;
    list_keys(*state().classes_root, "", keys);
    return keys;
}

std::vector<std::string> deleted_keys() {
    return state().deleted_keys;
}

void set_query_fills_buffer_on_more_data(bool fills) {
    state().query_fills = fills;
}

} // namespace platform_double

using namespace platform_double;
using namespace platform_double::detail;

// Opens an existing key below `key`, one level or several, never creating
// one; a new handle each time. Departs from Windows in handing out a new
// handle for an empty sub key (Windows hands back `key` itself) and in
// leaving *result untouched on failure.
LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    Record record{Call::reg_open_key, text_of(sub_key)};
    record.handle = (uintptr_t)key;
    if (inject(record)) {
        record.result = ERROR_ACCESS_DENIED;
        return finish(record);
    }
    std::shared_ptr<Key> parent = key_of(key, "RegOpenKeyA");
    if (parent == nullptr || result == nullptr) {
        record.result = parent == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
        return finish(record);
    }
    std::shared_ptr<Key> found = record.text.empty() ? parent : find_key_below(parent, record.text);
    if (parent->deleted) {
        record.result = ERROR_KEY_DELETED;
    } else if (found == nullptr) {
        record.result = ERROR_FILE_NOT_FOUND;
    } else {
        record.opened = first_key_handle + ++state().keys_opened;
        state().open_keys[record.opened] = found;
        *result = (HKEY)record.opened;
        record.result = ERROR_SUCCESS;
    }
    return finish(record);
}

// Reads the default value only (any named value is absent). As on Windows a
// value that does not fit gives ERROR_MORE_DATA and the size it needs, and
// with set_query_fills_buffer_on_more_data the buffer holds as much of the
// value as fits, unterminated. The type is always REG_SZ.
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD data_size) {
    Record record{Call::reg_query_value, text_of(value_name)};
    record.handle = (uintptr_t)key;
    std::shared_ptr<Key> found = key_of(key, "RegQueryValueExA");
    bool injected = inject(record);
    if (found == nullptr) {
        record.result = ERROR_INVALID_HANDLE;
    } else if (found->deleted) {
        record.result = ERROR_KEY_DELETED;
    } else if (!record.text.empty() || !found->value) {
        record.result = injected ? ERROR_MORE_DATA : ERROR_FILE_NOT_FOUND;
    } else {
        const std::string &value = *found->value;
        bool fits = data_size != nullptr && value.size() <= *data_size;
        if (type != nullptr)
            *type = REG_SZ;
        if (data != nullptr && data_size != nullptr && !injected && fits)
            std::memcpy(data, value.data(), value.size());
        else if (data != nullptr && data_size != nullptr && (injected || state().query_fills))
            std::memcpy(data, value.data(), std::min<size_t>(value.size(), *data_size));
        record.result = (injected || (data != nullptr && !fits)) ? ERROR_MORE_DATA : ERROR_SUCCESS;
        if (data_size != nullptr)
            *data_size = DWORD(value.size());
    }
    return finish(record);
}

// Deletes one key that has no subkeys, with its value: ERROR_ACCESS_DENIED
// for a key that has subkeys and ERROR_FILE_NOT_FOUND for an absent one, as
// on Windows. Handles still open to the key then see ERROR_KEY_DELETED.
// Departs from Windows in refusing an empty sub key (ERROR_INVALID_PARAMETER).
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
    Record record{Call::reg_delete_key, text_of(sub_key)};
    record.handle = (uintptr_t)key;
    if (inject(record)) {
        record.result = ERROR_ACCESS_DENIED;
        return finish(record);
    }
    std::shared_ptr<Key> parent = key_of(key, "RegDeleteKeyA");
    std::shared_ptr<Key> doomed =
        parent == nullptr || record.text.empty() ? nullptr : find_key_below(parent, record.text);
    if (parent == nullptr)
        record.result = ERROR_INVALID_HANDLE;
    else if (record.text.empty())
        record.result = ERROR_INVALID_PARAMETER;
    else if (doomed == nullptr || parent->deleted)
        record.result = parent->deleted ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    else if (!doomed->subkeys.empty())
        record.result = ERROR_ACCESS_DENIED;
    else {
        state().deleted_keys.push_back(key_path(*doomed));
        auto &siblings = doomed->parent->subkeys;
        siblings.erase(std::find(siblings.begin(), siblings.end(), doomed));
        // A deleted key may outlive its parent through an open handle: it
        // keeps its full name instead of a pointer up.
        doomed->name = key_path(*doomed);
        doomed->parent = nullptr;
        doomed->deleted = true;
        record.result = ERROR_SUCCESS;
    }
    return finish(record);
}

// Releases a handle that RegOpenKeyA gave. Closing it twice, closing one
// never opened or a predefined key is recorded as the program's fault
// (Windows accepts the close of a predefined key; the program never makes
// one). An injected failure still releases the handle.
LONG WINAPI RegCloseKey(HKEY key) {
    Record record{Call::reg_close_key};
    record.handle = (uintptr_t)key;
    bool injected = inject(record);
    auto open = state().open_keys.find(record.handle);
    if (open != state().open_keys.end()) {
        state().open_keys.erase(open);
        state().closed_keys.insert(record.handle);
        record.result = injected ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
    } else {
        if (key == HKEY_CLASSES_ROOT)
            program_fault("RegCloseKey on HKEY_CLASSES_ROOT, a key the program never opened");
        else
            key_of(key, "RegCloseKey");
        record.result = ERROR_INVALID_HANDLE;
    }
    return finish(record);
}

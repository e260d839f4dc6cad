// The double's machine and records, shared by its files.
#ifndef UNINST_TESTS_DOUBLE_STATE_H
#define UNINST_TESTS_DOUBLE_STATE_H

#include <map>
#include <memory>
#include <set>

#include "platform_double.h"

namespace platform_double::detail {

struct Key {
    std::string name;
    std::optional<std::string> value;
    std::vector<std::shared_ptr<Key>> subkeys;
    Key *parent = nullptr;
    bool deleted = false;
};

enum class Kind { file, folder, folder_link };

struct Node {
    std::string name;
    Kind kind = Kind::folder;
    bool read_only = false;
    bool no_enter = false;
    bool no_list = false;
    std::string target; // A link's target, a full Windows path.
    std::vector<std::shared_ptr<Node>> children;
    Node *parent = nullptr;
};

// One level of the current directory: the name it was entered by and the
// folder it is (a link's target when entered through a link), so that ".."
// goes back the way the path came, as it does on Windows.
struct Step {
    std::string name;
    std::shared_ptr<Node> folder;
};

struct Search {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

struct Injection {
    unsigned nth;
    bool from_then_on;
};

struct State {
    std::shared_ptr<Key> classes_root;
    std::map<char, std::shared_ptr<Node>> drives;
    std::vector<Step> current;
    std::optional<std::string> windows_dir;
    int box_result = IDOK;
    bool query_fills = true;
    std::string log_folder;

    std::vector<Record> records;
    std::vector<std::string> faults;
    std::vector<std::string> deleted_keys;
    std::vector<std::string> deleted_paths;
    std::map<uintptr_t, std::shared_ptr<Key>> open_keys;
    std::set<uintptr_t> closed_keys;
    std::map<uintptr_t, Search> open_searches;
    std::set<uintptr_t> closed_searches;
    unsigned keys_opened = 0;
    unsigned searches_opened = 0;
    unsigned uses[call_kinds] = {};
    std::vector<Injection> injections[call_kinds];
    unsigned fired = 0;
    DWORD last_error = ERROR_SUCCESS;
};

State &state();

// Handle values: never reused within a test, so a second close is told apart
// from the close of another handle.
constexpr uintptr_t first_key_handle = 0x10000;
constexpr uintptr_t first_search_handle = 0x20000;

// Counts one use of the record's call and marks it injected when a test asked
// for this use to fail.
bool inject(Record &record);
// Stores the record and returns its result.
long finish(Record record);
void program_fault(const std::string &what);
// A handle as describe() names it: key1, search2, HKEY_CLASSES_ROOT.
std::string handle_name(uintptr_t handle);
std::string text_of(const char *text);
// Copies `path` into `buffer` when it fits `size` bytes with its terminator,
// as GetCurrentDirectoryA and GetWindowsDirectoryA do, and records what the
// call returns: the length copied, or the size needed.
void copy_out(const std::string &path, char *buffer, unsigned long size, Record &record);
std::string upper(const std::string &text);
bool same_name(const std::string &a, const std::string &b);
std::vector<std::string> split_path(const std::string &path);

// The registry and files below it, rebuilt in the parent after a child run.
void reset_registry();
void reset_files();
void reset_log_folder();
std::string key_path(const Key &key);
std::string node_path(const Node &node);

} // namespace platform_double::detail

#endif

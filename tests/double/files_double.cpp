// Folders, files and links on the double's drives, the current directory,
// and the calls that enter, remove and delete them.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "paths_double.h"

namespace platform_double {
namespace detail {

// The ANSI calls refuse a path of MAX_PATH characters or more; a current
// directory must leave room for a trailing backslash and the terminator.
static const size_t longest_path = MAX_PATH - 1;
static const size_t longest_current_directory = MAX_PATH - 2;

void reset_files() {
    state().drives.clear();
    state().current.clear();
}

std::string node_path(const Node &node) {
    if (node.parent == nullptr)
        return node.kind == Kind::folder && node.name.size() == 2 ? node.name + "\\" : node.name;
    std::string holder = node_path(*node.parent);
    return holder + (holder.back() == '\\' ? "" : "\\") + node.name;
}

// The entry at a full path as set up, links not followed; `create` makes
// missing folders on the way.
static std::shared_ptr<Node> node_at(const std::string &path, bool create) {
    std::vector<std::string> names = split_path(path);
    if (names[0].size() != 2 || names[0][1] != ':') {
        ADD_FAILURE() << "the double needs a full path, got \"" << path << "\"";
        return nullptr;
    }
    char letter = char(std::toupper((unsigned char)names[0][0]));
    std::shared_ptr<Node> &root = state().drives[letter];
    if (root == nullptr) {
        root = std::make_shared<Node>();
        root->name = std::string(1, letter) + ":";
    }
    std::shared_ptr<Node> node = root;
    for (size_t i = 1; i < names.size() && node != nullptr; ++i) {
        if (names[i].empty())
            continue;
        auto &children = node->children;
        auto found = std::find_if(children.begin(), children.end(), [&](const auto &child) {
            return same_name(child->name, names[i]);
        });
        if (found != children.end()) {
            node = *found;
        } else if (create) {
            auto folder = std::make_shared<Node>();
            folder->name = names[i];
            folder->parent = node.get();
            children.push_back(folder);
            node = folder;
        } else {
            node = nullptr;
        }
    }
    return node;
}

static std::shared_ptr<Node> add_node(const std::string &path, Kind kind) {
    std::shared_ptr<Node> node = node_at(path, true);
    if (node != nullptr)
        node->kind = kind;
    return node;
}

static std::shared_ptr<Node> existing(const std::string &path) {
    std::shared_ptr<Node> node = node_at(path, false);
    if (node == nullptr)
        ADD_FAILURE() << "the double has no \"" << path << "\"";
    return node;
}

static void remove_node(const std::shared_ptr<Node> &node) {
    state().deleted_paths.push_back(node_path(*node));
    auto &siblings = node->parent->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node));
    node->parent = nullptr;
}

static bool is_on_current_way(const std::shared_ptr<Node> &node) {
    for (const Step &step : state().current)
        if (step.folder == node)
            return true;
    return false;
}

static BOOL fail_with(Record &record, DWORD error) {
    state().last_error = error;
    record.result = FALSE;
    return BOOL(finish(record));
}

static BOOL succeed(Record &record) {
    record.result = TRUE;
    return BOOL(finish(record));
}

static void list_nodes(const Node &folder, std::vector<std::string> &out) {
    for (const auto &child : folder.children) {
        out.push_back(node_path(*child));
        list_nodes(*child, out);
    }
}

} // namespace detail

using namespace detail;

void add_folder(const std::string &path) {
    add_node(path, Kind::folder);
}

void add_file(const std::string &path, bool read_only) {
    if (auto file = add_node(path, Kind::file))
        file->read_only = read_only;
}

void add_folder_link(const std::string &path, const std::string &target) {
    if (auto link = add_node(path, Kind::folder_link))
        link->target = target;
}

void forbid_entering(const std::string &path) {
    if (auto folder = existing(path))
        folder->no_enter = true;
}

void forbid_listing(const std::string &path) {
    if (auto folder = existing(path))
        folder->no_list = true;
}

bool path_exists(const std::string &path) {
    return node_at(path, false) != nullptr;
}

std::vector<std::string> all_paths() {
    std::vector<std::string> paths;
    for (const auto &drive : state().drives) {
        paths.push_back(node_path(*drive.second));
        list_nodes(*drive.second, paths);
    }
    return paths;
}

std::vector<std::string> deleted_paths() {
    return state().deleted_paths;
}

void set_current_directory(const std::string &path) {
    Resolved resolved = resolve(path, true);
    if (resolved.error != ERROR_SUCCESS || resolved.node == nullptr ||
        resolved.node->kind != Kind::folder) {
        ADD_FAILURE() << "the double cannot make \"" << path << "\" current";
        return;
    }
    resolved.holder.push_back(Step{resolved.name, resolved.node});
    state().current = resolved.holder;
}

std::string current_directory() {
    return chain_path(state().current);
}

} // namespace platform_double

using namespace platform_double;
using namespace platform_double::detail;

// Makes a folder current by a full, drive-relative or relative path, "..",
// or a link's name (entering its target, as Windows does; ".." then leads
// back to the folder holding the link). Fails for an empty or invalid name,
// a file (ERROR_DIRECTORY), an absent entry, a folder set up as not to be
// entered (ERROR_ACCESS_DENIED) and a result longer than MAX_PATH - 2.
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    Record record{Call::set_current_directory, text_of(path)};
    if (inject(record))
        return fail_with(record, ERROR_ACCESS_DENIED);
    Resolved resolved = resolve(record.text, true);
    if (resolved.error != ERROR_SUCCESS)
        return fail_with(record, resolved.error);
    if (resolved.node == nullptr)
        return fail_with(record, ERROR_FILE_NOT_FOUND);
    if (resolved.node->kind != Kind::folder)
        return fail_with(record, ERROR_DIRECTORY);
    if (resolved.node->no_enter)
        return fail_with(record, ERROR_ACCESS_DENIED);
    resolved.holder.push_back(Step{resolved.name, resolved.node});
    if (chain_path(resolved.holder).size() > longest_current_directory)
        return fail_with(record, ERROR_FILENAME_EXCED_RANGE);
    state().current = resolved.holder;
    return succeed(record);
}

// Copies the current directory with its terminator and returns its length;
// when `size` is too small, returns the size it needs, buffer untouched.
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    Record record{Call::get_current_directory};
    if (inject(record)) {
        state().last_error = ERROR_ACCESS_DENIED;
        return DWORD(finish(record));
    }
    std::string path = chain_path(state().current);
    copy_out(path, buffer, size, record);
    return DWORD(finish(record));
}

// Removes an empty folder, or a link to a folder (the link only, never its
// target). Refuses a folder that holds anything (ERROR_DIR_NOT_EMPTY), a
// file (ERROR_DIRECTORY), the current directory or one on the way to it
// (ERROR_SHARING_VIOLATION), a drive's root and a read-only folder
// (ERROR_ACCESS_DENIED).
BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    Record record{Call::remove_directory, text_of(path)};
    if (inject(record))
        return fail_with(record, ERROR_ACCESS_DENIED);
    Resolved resolved = resolve(record.text, false);
    const std::shared_ptr<Node> &node = resolved.node;
    if (resolved.error != ERROR_SUCCESS)
        return fail_with(record, resolved.error);
    if (resolved_path(resolved).size() > longest_path)
        return fail_with(record, ERROR_FILENAME_EXCED_RANGE);
    if (node == nullptr)
        return fail_with(record, ERROR_FILE_NOT_FOUND);
    if (node->kind == Kind::file)
        return fail_with(record, ERROR_DIRECTORY);
    if (node->kind == Kind::folder) {
        if (is_on_current_way(node))
            return fail_with(record, ERROR_SHARING_VIOLATION);
        if (node->parent == nullptr || node->read_only)
            return fail_with(record, ERROR_ACCESS_DENIED);
        if (!node->children.empty())
            return fail_with(record, ERROR_DIR_NOT_EMPTY);
    }
    remove_node(node);
    return succeed(record);
}

// Deletes a file. Refuses a read-only file, a folder or a link to one
// (ERROR_ACCESS_DENIED) and an absent entry (ERROR_FILE_NOT_FOUND).
BOOL WINAPI DeleteFileA(LPCSTR path) {
    Record record{Call::delete_file, text_of(path)};
    if (inject(record))
        return fail_with(record, ERROR_ACCESS_DENIED);
    Resolved resolved = resolve(record.text, false);
    if (resolved.error != ERROR_SUCCESS)
        return fail_with(record, resolved.error);
    if (resolved_path(resolved).size() > longest_path)
        return fail_with(record, ERROR_FILENAME_EXCED_RANGE);
    if (resolved.node == nullptr)
        return fail_with(record, ERROR_FILE_NOT_FOUND);
    if (resolved.node->kind != Kind::file || resolved.node->read_only)
        return fail_with(record, ERROR_ACCESS_DENIED);
    remove_node(resolved.node);
    return succeed(record);
}

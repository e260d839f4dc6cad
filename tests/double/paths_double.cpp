// Path resolution on the double's drives, the way Windows reads an ANSI path.
#include "paths_double.h"

#include <cctype>
#include <cstring>

namespace platform_double::detail {

// Links are followed at most this deep, so that a loop of links ends.
static const int link_depth_limit = 8;

static bool is_separator(char c) {
    return c == '\\' || c == '/';
}

static bool has_forbidden_char(const std::string &name) {
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("\"<>|?*:", c) != nullptr)
            return true;
    return false;
}

// Windows drops trailing dots and spaces of a name ("VIEWER." is "VIEWER").
static std::string without_trailing_dots(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

static std::shared_ptr<Node> child_named(const Node &folder, const std::string &name) {
    for (const auto &child : folder.children)
        if (same_name(child->name, name))
            return child;
    return nullptr;
}

static std::vector<Step> drive_root(char letter) {
    auto drive = state().drives.find(char(std::toupper((unsigned char)letter)));
    if (drive == state().drives.end())
        return {};
    return {Step{drive->second->name, drive->second}};
}

// Where the path starts: its drive's root, the current directory of that
// drive (only the current drive keeps one here), or the current directory.
static DWORD starting_point(const std::string &path, std::vector<Step> &chain, size_t &rest) {
    const std::vector<Step> &current = state().current;
    char current_drive = current.empty() ? 0 : current[0].name[0];
    rest = 0;
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]))
        return ERROR_BAD_NETPATH;
    if (path.size() >= 2 && std::isalpha((unsigned char)path[0]) && path[1] == ':') {
        char letter = char(std::toupper((unsigned char)path[0]));
        bool absolute = path.size() > 2 && is_separator(path[2]);
        chain = !absolute && letter == current_drive ? current : drive_root(letter);
        rest = absolute ? 3 : 2;
    } else if (!path.empty() && is_separator(path[0])) {
        chain = current_drive == 0 ? std::vector<Step>{} : drive_root(current_drive);
        rest = 1;
    } else {
        chain = current;
    }
    return chain.empty() ? ERROR_PATH_NOT_FOUND : ERROR_SUCCESS;
}

static Resolved named_folder(std::vector<Step> chain) {
    Resolved resolved;
    resolved.node = chain.back().folder;
    resolved.name = chain.back().name;
    chain.pop_back();
    resolved.holder = chain;
    return resolved;
}

static Resolved resolve_within(const std::string &path, bool follow_final_link, int depth);

std::shared_ptr<Node> link_target_within(const Node &link, int depth) {
    if (depth >= link_depth_limit)
        return nullptr;
    Resolved target = resolve_within(link.target, true, depth + 1);
    if (target.error != ERROR_SUCCESS || target.node == nullptr ||
        target.node->kind != Kind::folder)
        return nullptr;
    return target.node;
}

std::shared_ptr<Node> link_target(const Node &link) {
    return link_target_within(link, 0);
}

static Resolved resolve_within(const std::string &path, bool follow_final_link, int depth) {
    Resolved resolved;
    std::vector<Step> chain;
    size_t rest = 0;
    if (path.empty())
        resolved.error = ERROR_PATH_NOT_FOUND;
    else
        resolved.error = starting_point(path, chain, rest);
    if (resolved.error != ERROR_SUCCESS)
        return resolved;
    std::vector<std::string> names;
    for (const std::string &name : split_path(path.substr(rest)))
        if (!name.empty() && name != ".")
            names.push_back(name);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "..") {
            if (chain.size() > 1)
                chain.pop_back();
            continue;
        }
        std::string name = without_trailing_dots(names[i]);
        if (has_forbidden_char(names[i]) || name.empty()) {
            resolved.error = ERROR_INVALID_NAME;
            return resolved;
        }
        std::shared_ptr<Node> child = child_named(*chain.back().folder, name);
        bool last = i + 1 == names.size();
        if (last && (child == nullptr || child->kind == Kind::file || !follow_final_link ||
                     child->kind == Kind::folder)) {
            resolved.holder = chain;
            resolved.name = name;
            resolved.node = child;
            return resolved;
        }
        std::shared_ptr<Node> folder = child;
        if (child != nullptr && child->kind == Kind::folder_link)
            folder = link_target_within(*child, depth);
        else if (child != nullptr && child->kind == Kind::file)
            folder = nullptr;
        if (folder == nullptr) {
            resolved.error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            return resolved;
        }
        chain.push_back(Step{child->name, folder});
    }
    return named_folder(chain);
}

Resolved resolve(const std::string &path, bool follow_final_link) {
    return resolve_within(path, follow_final_link, 0);
}

std::string chain_path(const std::vector<Step> &chain) {
    if (chain.empty())
        return "";
    std::string path = chain[0].name + "\\";
    for (size_t i = 1; i < chain.size(); ++i)
        path += (i > 1 ? "\\" : "") + chain[i].name;
    return path;
}

std::string resolved_path(const Resolved &resolved) {
    if (resolved.holder.empty())
        return resolved.name + "\\";
    std::string holder = chain_path(resolved.holder);
    return holder + (holder.back() == '\\' ? "" : "\\") + resolved.name;
}

} // namespace platform_double::detail

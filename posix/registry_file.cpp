#include "registry_file.h"

#include <string.h>

namespace standin {

static const char header_regedit4[] = "REGEDIT4";
static const char header_version5[] = "Windows Registry Editor Version 5.00";

std::string upper_name(const std::string &name) {
    std::string result = name;
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return result;
}

RegistryKey *RegistryKey::child(const std::string &name) const {
    auto found = children.find(upper_name(name));
    return found == children.end() ? nullptr : found->second.get();
}

// Whether two names are the same to the registry, ASCII letters matching
// either case, without making upper-case copies of them.
static bool same_name(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 'a' + 'A') : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 'a' + 'A') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

const RegistryValue *RegistryKey::value(const std::string &wanted) const {
    for (const RegistryValue &v : values)
        if (same_name(v.name, wanted))
            return &v;
    return nullptr;
}

std::string RegistryKey::full_name() const {
    if (parent == nullptr || parent->parent == nullptr)
        return name;
    return parent->full_name() + "\\" + name;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text from `p`, undoing regedit's escapes of backslash and
// double quote; other backslashes stand for themselves.
static bool read_quoted(const char *&p, const char *end, std::string &out) {
    if (p == end || *p != '"')
        return false;
    for (++p; p != end; ++p) {
        if (*p == '"') {
            ++p;
            return true;
        }
        if (*p == '\\' && p + 1 != end && (p[1] == '\\' || p[1] == '"'))
            ++p;
        out += *p;
    }
    return false;
}

static void skip_blanks(const char *&p, const char *end) {
    while (p != end && (*p == ' ' || *p == '\t'))
        ++p;
}

static bool read_dword(const char *p, const char *end, std::string &out) {
    uint32_t number = 0;
    int digits = 0;
    for (; p != end && hex_digit(*p) >= 0; ++p, ++digits)
        number = number * 16 + uint32_t(hex_digit(*p));
    skip_blanks(p, end);
    if (digits == 0 || digits > 8 || p != end)
        return false;
    for (int i = 0; i < 4; ++i)
        out += char((number >> (8 * i)) & 0xff);
    return true;
}

// Windows 5.00 files hold the hex forms of text types as UTF-16LE; the ANSI
// functions return them narrowed, as the system's code page would.
static std::string narrow_utf16(const std::string &wide) {
    std::string narrow;
    for (size_t i = 0; i + 1 < wide.size(); i += 2) {
        unsigned unit = (unsigned char)wide[i] | (unsigned char)wide[i + 1] << 8;
        narrow += unit < 0x100 ? char(unit) : '?';
    }
    return narrow;
}

// Where the walk to the key that `path` names may start: the deepest key
// that it shares with the key made last, found by their common spelling.
// Headers mostly name a child or a sibling of the key before them, so only
// the last names of a path are looked up, not every name from the top.
RegistryKey *RegistryFile::shared_key(const std::string &path, size_t &begin) {
    if (last_key_ == nullptr)
        return &top_;
    size_t common = 0;
    while (common < path.size() && common < last_path_.size() && path[common] == last_path_[common])
        ++common;
    size_t shared = common;
    while (shared > 0 && !(path[shared] == '\\' &&
                           (shared == last_path_.size() || last_path_[shared] == '\\')))
        --shared;
    if (shared == 0 || shared >= path.size())
        return &top_;
    RegistryKey *key = last_key_;
    for (size_t i = shared; i < last_path_.size(); ++i)
        if (last_path_[i] == '\\')
            key = key->parent;
    begin = shared + 1;
    return key;
}

RegistryKey *RegistryFile::make_key(const std::string &path) {
    size_t begin = 0;
    RegistryKey *key = shared_key(path, begin);
    while (begin <= path.size()) {
        size_t end = path.find('\\', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(begin, end - begin);
        if (name.empty())
            return nullptr;
        std::unique_ptr<RegistryKey> &slot = key->children.try_emplace(upper_name(name)).first->second;
        if (!slot) {
            slot.reset(new RegistryKey);
            slot->name = std::move(name);
            slot->parent = key;
        }
        key = slot.get();
        begin = end + 1;
    }
    last_key_ = key;
    last_path_ = path;
    return key;
}

bool RegistryFile::parse_header(size_t line_begin, size_t begin, size_t end) {
    const char *p = text_.data() + begin;
    size_t length = end - begin;
    if (length < 3 || p[length - 1] != ']' || p[1] == '-')
        return false;
    current_ = make_key(std::string(p + 1, length - 2));
    if (current_ == nullptr)
        return false;
    current_->has_section = true;
    if (sections_.empty())
        preamble_end_ = line_begin;
    else
        sections_.back().end = line_begin;
    sections_.push_back(RegistrySection{line_begin, text_.size(), current_, std::string()});
    return true;
}

// Collects the bytes of a hex value, which may run on over lines that end in
// a backslash.
static bool read_hex_bytes(const std::string &text, size_t &p, size_t line_end, std::string &out,
                           size_t &next) {
    while (p < line_end) {
        char c = text[p];
        if (c == ',' || c == ' ' || c == '\t') {
            ++p;
        } else if (c == '\\' && text.find_first_not_of(" \t", p + 1) >= line_end) {
            if (next >= text.size())
                return false;
            p = next;
            line_end = text.find('\n', p);
            if (line_end == std::string::npos)
                line_end = text.size();
            next = line_end + 1;
            if (line_end > p && text[line_end - 1] == '\r')
                --line_end;
        } else if (p + 1 < line_end && hex_digit(c) >= 0 && hex_digit(text[p + 1]) >= 0) {
            out += char(hex_digit(c) * 16 + hex_digit(text[p + 1]));
            p += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool RegistryFile::parse_value(size_t &begin, size_t end, size_t &next) {
    const char *p = text_.data() + begin;
    const char *line_end = text_.data() + end;
    RegistryValue value;
    if (*p == '@')
        ++p;
    else if (!read_quoted(p, line_end, value.name))
        return false;
    skip_blanks(p, line_end);
    if (p == line_end || *p++ != '=')
        return false;
    skip_blanks(p, line_end);
    if (p != line_end && *p == '"') {
        if (!read_quoted(p, line_end, value.data))
            return false;
        skip_blanks(p, line_end);
        if (p != line_end)
            return false;
        value.data += '\0';
    } else if (line_end - p >= 6 && strncmp(p, "dword:", 6) == 0) {
        value.type = REG_DWORD;
        if (!read_dword(p + 6, line_end, value.data))
            return false;
    } else if (line_end - p >= 3 && strncmp(p, "hex", 3) == 0) {
        p += 3;
        value.type = REG_BINARY;
        if (p != line_end && *p == '(') {
            char *after = nullptr;
            unsigned long type = strtoul(p + 1, &after, 16);
            if (after == p + 1 || after >= line_end || *after != ')')
                return false;
            value.type = DWORD(type);
            p = after + 1;
        }
        if (p == line_end || *p++ != ':')
            return false;
        size_t position = size_t(p - text_.data());
        if (!read_hex_bytes(text_, position, end, value.data, next))
            return false;
        if (version5_ && (value.type == REG_SZ || value.type == REG_EXPAND_SZ ||
                          value.type == REG_MULTI_SZ))
            value.data = narrow_utf16(value.data);
    } else {
        return false;
    }
    for (RegistryValue &existing : current_->values)
        if (same_name(existing.name, value.name)) {
            existing = std::move(value);
            return true;
        }
    current_->values.push_back(std::move(value));
    return true;
}

bool RegistryFile::parse_line(size_t begin, size_t end, size_t &next) {
    size_t first = text_.find_first_not_of(" \t", begin);
    if (first >= end || text_[first] == ';')
        return true;
    if (text_[first] == '[')
        return parse_header(begin, first, end);
    return current_ != nullptr && parse_value(first, end, next);
}

// A section for every header, counted up front: a registry of many keys
// would otherwise copy its sections again and again as they grow.
static size_t count_headers(const std::string &text) {
    size_t count = 0;
    for (size_t at = text.find("\n["); at != std::string::npos; at = text.find("\n[", at + 2))
        ++count;
    return count;
}

bool RegistryFile::parse(std::string text) {
    text_ = std::move(text);
    sections_.reserve(count_headers(text_));
    size_t end = text_.find('\n');
    std::string header = text_.substr(0, end == std::string::npos ? text_.size() : end);
    newline_ = !header.empty() && header.back() == '\r' ? "\r\n" : "\n";
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    version5_ = header == header_version5;
    bool ok = version5_ || header == header_regedit4;
    size_t next = end == std::string::npos ? text_.size() : end + 1;
    preamble_end_ = text_.size();
    while (ok && next < text_.size()) {
        size_t begin = next;
        size_t line_end = text_.find('\n', begin);
        if (line_end == std::string::npos)
            line_end = text_.size();
        next = line_end + 1;
        if (line_end > begin && text_[line_end - 1] == '\r')
            --line_end;
        ok = parse_line(begin, line_end, next);
    }
    if (!ok) {
        top_.children.clear();
        sections_.clear();
    }
    return ok;
}

void RegistryFile::remove(RegistryKey *key) {
    RegistryKey *parent = key->parent;
    size_t position = sections_.size();
    for (size_t i = 0; i < sections_.size(); ++i)
        if (sections_[i].key == key) {
            sections_[i].key = nullptr;
            position = std::min(position, i);
        }
    // A parent that only existed through this key's section would vanish with
    // it on the next read: it gets a header of its own where this key stood.
    if (!parent->has_section && parent->parent != &top_ && parent != &top_) {
        parent->has_section = true;
        RegistrySection header{0, 0, parent, "[" + parent->full_name() + "]" + newline_ + newline_};
        sections_.insert(sections_.begin() + long(std::min(position, sections_.size())), header);
    }
    parent->children.erase(upper_name(key->name));
}

std::string RegistryFile::serialize() const {
    std::string out;
    out.reserve(text_.size());
    for (std::string_view piece : pieces())
        out += piece;
    return out;
}

std::vector<std::string_view> RegistryFile::pieces() const {
    std::vector<std::string_view> out;
    auto add = [&out](const char *data, size_t size) {
        if (!out.empty() && out.back().data() + out.back().size() == data)
            out.back() = std::string_view(out.back().data(), out.back().size() + size);
        else if (size > 0)
            out.emplace_back(data, size);
    };
    add(text_.data(), preamble_end_);
    for (const RegistrySection &section : sections_) {
        if (section.key == nullptr)
            continue;
        if (!section.written.empty())
            add(section.written.data(), section.written.size());
        else
            add(text_.data() + section.begin, section.end - section.begin);
    }
    return out;
}

} // namespace standin

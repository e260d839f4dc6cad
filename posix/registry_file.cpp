#include "registry_file.h"

#include "path.h"

#include <string.h>

#include <algorithm>

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

static char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// The end of the line that starts at `begin`, less a carriage return, and
// in `next` where the following line starts.
static size_t line_end_from(std::string_view text, size_t begin, size_t &next) {
    size_t line_end = text.find('\n', begin);
    if (line_end == std::string::npos)
        line_end = text.size();
    next = line_end + 1;
    if (line_end > begin && text[line_end - 1] == '\r')
        --line_end;
    return line_end;
}

// FNV-1a over the upper-cased path, so that spellings that differ in case
// only meet in the same slot.
static uint32_t path_hash(std::string_view path) {
    uint32_t hash = 2166136261u;
    for (char c : path)
        hash = (hash ^ (unsigned char)upper(c)) * 16777619u;
    return hash;
}

static std::string_view last_name(std::string_view path) {
    size_t slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
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
        const char *plain = p;
        while (p != end && *p != '"' && *p != '\\')
            ++p;
        out.append(plain, size_t(p - plain));
        if (p == end)
            break;
        if (*p == '"') {
            ++p;
            return true;
        }
        if (p + 1 != end && (p[1] == '\\' || p[1] == '"'))
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

std::string_view RegistryFile::path(const Key &key) const {
    return std::string_view(text_.data() + key.path_begin, key.path_size);
}

RegistryKeyId RegistryFile::lookup(std::string_view wanted, uint32_t hash) const {
    if (table_.empty())
        return no_registry_key;
    size_t mask = table_.size() - 1;
    for (size_t slot = hash & mask; table_[slot].id != no_registry_key; slot = (slot + 1) & mask)
        if (table_[slot].hash == hash && same_name(path(keys_[table_[slot].id]), wanted))
            return table_[slot].id;
    return no_registry_key;
}

// Puts a key in the table, which is kept at most three quarters full so
// that probes stay short.
void RegistryFile::insert(RegistryKeyId id) {
    if ((size_t(id) + 1) * 4 > table_.size() * 3) {
        std::vector<Slot, HugePageAllocator<Slot>> larger(std::max<size_t>(1024, table_.size() * 2));
        table_.swap(larger);
        for (RegistryKeyId again = 0; again < id; ++again)
            insert(again);
    }
    size_t mask = table_.size() - 1;
    size_t slot = keys_[id].hash & mask;
    while (table_[slot].id != no_registry_key)
        slot = (slot + 1) & mask;
    table_[slot] = Slot{keys_[id].hash, id};
}

// How far the path of the header before this one (`last_`) is shared by
// `path`: the end of their longest common run of whole names, 0 for none,
// with the key that it names.
size_t RegistryFile::shared_with_last(std::string_view path, RegistryKeyId &shared) const {
    if (last_ == no_registry_key)
        return 0;
    std::string_view last = this->path(keys_[last_]);
    size_t common = 0;
    while (common < path.size() && common < last.size() && path[common] == last[common])
        ++common;
    size_t end = common;
    while (end > 0 && !((end == path.size() || path[end] == '\\') &&
                        (end == last.size() || last[end] == '\\')))
        --end;
    if (end == 0)
        return 0;
    shared = last_;
    for (size_t i = end; i < last.size(); ++i)
        if (last[i] == '\\')
            shared = keys_[shared].parent;
    return end;
}

// The key that a header's path names, made with every missing parent.
// Headers mostly name a child or a sibling of the key before them, so the
// walk starts from the names they share; below that, names are looked up
// until one is missing, and from there on every key is new.
RegistryKeyId RegistryFile::make_key(size_t path_begin, size_t path_size) {
    std::string_view whole(text_.data() + path_begin, path_size);
    if (whole.empty() || whole.front() == '\\' || whole.back() == '\\' ||
        whole.find("\\\\") != std::string_view::npos)
        return no_registry_key; // an empty name
    RegistryKeyId parent = no_registry_key;
    size_t shared = shared_with_last(whole, parent);
    bool may_exist = true;
    // The hash runs on from the shared key's, which covers the same bytes.
    uint32_t hash = shared == 0 ? path_hash("") : keys_[parent].hash;
    if (shared < whole.size() && shared > 0)
        hash = (hash ^ (unsigned char)'\\') * 16777619u;
    for (size_t at = shared == 0 ? 0 : shared + 1; at <= whole.size(); ++at) {
        bool name_ends = at == whole.size() || whole[at] == '\\';
        if (name_ends && at > shared) {
            RegistryKeyId existing = may_exist ? lookup(whole.substr(0, at), hash) : no_registry_key;
            if (existing != no_registry_key) {
                parent = existing;
            } else {
                may_exist = false; // a missing key has no subkeys either
                parent = add_key(path_begin, at, hash, parent);
            }
        }
        if (at < whole.size())
            hash = (hash ^ (unsigned char)upper(whole[at])) * 16777619u;
    }
    last_ = parent;
    return parent;
}

RegistryKeyId RegistryFile::add_key(size_t path_begin, size_t path_size, uint32_t hash,
                                    RegistryKeyId parent) {
    Key key;
    key.path_begin = path_begin;
    key.path_size = uint32_t(path_size);
    key.hash = hash;
    key.parent = parent;
    if (parent != no_registry_key)
        ++keys_[parent].subkeys;
    keys_.push_back(key);
    RegistryKeyId id = RegistryKeyId(keys_.size() - 1);
    insert(id);
    return id;
}

bool RegistryFile::parse_header(size_t line_begin, size_t begin, size_t end) {
    const char *p = text_.data() + begin;
    size_t length = end - begin;
    if (length < 3 || p[length - 1] != ']' || p[1] == '-')
        return false;
    current_ = make_key(begin + 1, length - 2);
    if (current_ == no_registry_key)
        return false;
    if (sections_.empty())
        preamble_end_ = line_begin;
    else
        sections_.back().end = line_begin;
    Key &key = keys_[current_];
    uint32_t number = uint32_t(sections_.size());
    if (key.last_section == UINT32_MAX)
        key.first_section = number;
    else
        sections_[key.last_section].next_of_key = number;
    key.last_section = number;
    key.has_header = true;
    sections_.push_back(Section{line_begin, text_.size(), current_, UINT32_MAX});
    return true;
}

// Collects the bytes of a hex value, which may run on over lines that end in
// a backslash.
static bool read_hex_bytes(std::string_view text, size_t &p, size_t line_end, std::string &out,
                           size_t &next) {
    while (p < line_end) {
        char c = text[p];
        if (c == ',' || c == ' ' || c == '\t') {
            ++p;
        } else if (c == '\\' && text.find_first_not_of(" \t", p + 1) >= line_end) {
            if (next >= text.size())
                return false;
            p = next;
            line_end = line_end_from(text, p, next);
        } else if (p + 1 < line_end && hex_digit(c) >= 0 && hex_digit(text[p + 1]) >= 0) {
            out += char(hex_digit(c) * 16 + hex_digit(text[p + 1]));
            p += 2;
        } else {
            return false;
        }
    }
    return true;
}

// Parses the value line at `begin` into `value`, whose strings are reused.
bool RegistryFile::parse_value(size_t begin, size_t end, size_t &next, RegistryValue &value) const {
    const char *p = text_.data() + begin;
    const char *line_end = text_.data() + end;
    value.name.clear();
    value.type = REG_SZ;
    value.data.clear();
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
    return true;
}

bool RegistryFile::parse_line(size_t begin, size_t end, size_t &next) {
    size_t first = text_.find_first_not_of(" \t", begin);
    if (first >= end || text_[first] == ';')
        return true;
    if (text_[first] == '[')
        return parse_header(begin, first, end);
    return current_ != no_registry_key && parse_value(first, end, next, scratch_);
}

// A section for every header, counted up front: a registry of many keys
// would otherwise copy its sections again and again as they grow.
static size_t count_headers(std::string_view text) {
    size_t count = 0;
    for (size_t at = text.find("\n["); at != std::string::npos; at = text.find("\n[", at + 2))
        ++count;
    return count;
}

bool RegistryFile::parse(std::string_view text) {
    RegistryText copy;
    copy.reserve(text.size() + 1);
    copy.insert(copy.end(), text.begin(), text.end());
    return parse(std::move(copy));
}

bool RegistryFile::parse(RegistryText text) {
    buffer_ = std::move(text);
    buffer_.push_back('\0'); // a stop for the C functions that read a number
    text_ = std::string_view(buffer_.data(), buffer_.size() - 1);
    size_t headers = count_headers(text_);
    sections_.reserve(headers);
    keys_.reserve(headers + headers / 4);
    size_t slots = 1024;
    while (slots * 3 < keys_.capacity() * 4)
        slots *= 2;
    table_.resize(slots);
    size_t end = text_.find('\n');
    std::string header(text_.substr(0, end == std::string::npos ? text_.size() : end));
    newline_ = !header.empty() && header.back() == '\r' ? "\r\n" : "\n";
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    version5_ = header == header_version5;
    bool ok = version5_ || header == header_regedit4;
    size_t next = end == std::string::npos ? text_.size() : end + 1;
    preamble_end_ = text_.size();
    while (ok && next < text_.size()) {
        size_t begin = next;
        size_t line_end = line_end_from(text_, begin, next);
        ok = parse_line(begin, line_end, next);
    }
    if (!ok) {
        keys_.clear();
        sections_.clear();
        table_.clear();
    }
    return ok;
}

RegistryKeyId RegistryFile::find(std::string_view wanted) const {
    RegistryKeyId id = lookup(wanted, path_hash(wanted));
    return id == no_registry_key || keys_[id].removed ? no_registry_key : id;
}

std::vector<RegistryKeyId> RegistryFile::keys() const {
    std::vector<RegistryKeyId> present;
    for (RegistryKeyId id = 0; id < keys_.size(); ++id)
        if (!keys_[id].removed)
            present.push_back(id);
    return present;
}

size_t RegistryFile::subkey_count(RegistryKeyId key) const { return keys_[key].subkeys; }

std::string RegistryFile::full_name(RegistryKeyId id) const {
    std::vector<std::string_view> names;
    for (; id != no_registry_key; id = keys_[id].parent)
        names.push_back(last_name(path(keys_[id])));
    std::string name;
    for (size_t i = names.size(); i-- > 0;) {
        name += names[i];
        if (i > 0)
            name += '\\';
    }
    return name;
}

// Calls `visit` with each value line of the key's sections, in the order of
// the file; the text was checked whole when it was read.
template <typename Visit> void RegistryFile::each_value(const Key &key, Visit visit) const {
    RegistryValue value;
    for (uint32_t number = key.first_section; number != UINT32_MAX;
         number = sections_[number].next_of_key) {
        const Section &section = sections_[number];
        size_t next = text_.find('\n', section.begin); // past the header
        next = next == std::string::npos ? section.end : next + 1;
        while (next < section.end) {
            size_t begin = next;
            size_t line_end = line_end_from(text_, begin, next);
            size_t first = text_.find_first_not_of(" \t", begin);
            if (first >= line_end || text_[first] == ';')
                continue;
            if (parse_value(first, line_end, next, value))
                visit(value);
        }
    }
}

bool RegistryFile::value(RegistryKeyId key, std::string_view name, RegistryValue &out) const {
    bool found = false;
    each_value(keys_[key], [&](RegistryValue &value) {
        if (same_name(value.name, name)) {
            out = value;
            found = true;
        }
    });
    return found;
}

std::vector<RegistryValue> RegistryFile::values(RegistryKeyId key) const {
    std::vector<RegistryValue> all;
    each_value(keys_[key], [&](RegistryValue &value) {
        for (RegistryValue &existing : all)
            if (same_name(existing.name, value.name)) {
                existing = value;
                return;
            }
        all.push_back(value);
    });
    return all;
}

void RegistryFile::remove(RegistryKeyId id) {
    Key &key = keys_[id];
    size_t position = key.first_section == UINT32_MAX ? sections_.size() : key.first_section;
    for (const WrittenHeader &header : written_)
        if (header.key == id)
            position = std::min(position, header.before);
    key.removed = true;
    if (key.parent == no_registry_key)
        return;
    Key &parent = keys_[key.parent];
    --parent.subkeys;
    // A parent that only existed through this key's section would vanish with
    // it on the next read: it gets a header of its own where this key stood.
    if (!parent.has_header && parent.parent != no_registry_key) {
        parent.has_header = true;
        WrittenHeader header{position, key.parent,
                             "[" + full_name(key.parent) + "]" + newline_ + newline_};
        auto after = std::upper_bound(
            written_.begin(), written_.end(), position,
            [](size_t before, const WrittenHeader &other) { return before < other.before; });
        written_.insert(after, std::move(header));
    }
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
    size_t header = 0;
    auto add_headers_before = [&](size_t number) {
        for (; header < written_.size() && written_[header].before <= number; ++header)
            if (!keys_[written_[header].key].removed)
                add(written_[header].text.data(), written_[header].text.size());
    };
    for (size_t number = 0; number < sections_.size(); ++number) {
        add_headers_before(number);
        const Section &section = sections_[number];
        if (!keys_[section.key].removed)
            add(text_.data() + section.begin, section.end - section.begin);
    }
    add_headers_before(SIZE_MAX);
    return out;
}

} // namespace standin

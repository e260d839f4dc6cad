// The table of recorded calls, the faults a test injects, and the misuses of
// handles that the program commits.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "double_state.h"

namespace platform_double {
namespace detail {

State &state() {
    static State the_state;
    return the_state;
}

bool inject(Record &record) {
    int kind = int(record.call);
    unsigned use = ++state().uses[kind];
    for (const Injection &injection : state().injections[kind])
        if (use == injection.nth || (injection.from_then_on && use > injection.nth))
            record.injected = true;
    if (record.injected)
        ++state().fired;
    return record.injected;
}

long finish(Record record) {
    long result = record.result;
    state().records.push_back(std::move(record));
    return result;
}

void program_fault(const std::string &what) {
    state().faults.push_back(what);
}

std::string text_of(const char *text) {
    return text == nullptr ? std::string() : text;
}

void copy_out(const std::string &path, char *buffer, unsigned long size, Record &record) {
    record.text = path;
    if (buffer == nullptr || path.size() + 1 > size) {
        record.result = long(path.size() + 1);
    } else {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        record.result = long(path.size());
    }
}

std::string upper(const std::string &text) {
    std::string result = text;
    for (char &c : result)
        c = char(std::toupper((unsigned char)c));
    return result;
}

bool same_name(const std::string &a, const std::string &b) {
    return upper(a) == upper(b);
}

std::vector<std::string> split_path(const std::string &path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of("\\/", start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace detail

using namespace detail;

const Call all_calls[call_kinds] = {
    Call::reg_open_key,
    Call::reg_query_value,
    Call::reg_delete_key,
    Call::reg_close_key,
    Call::get_windows_directory,
    Call::get_current_directory,
    Call::set_current_directory,
    Call::remove_directory,
    Call::find_first_file,
    Call::find_next_file,
    Call::find_close,
    Call::delete_file,
    Call::message_box,
    Call::get_last_error,
    Call::log_file_open,
};

const char *call_name(Call call) {
    static const char *const names[call_kinds] = {
        "RegOpenKeyA",
        "RegQueryValueExA",
        "RegDeleteKeyA",
        "RegCloseKey",
        "GetWindowsDirectoryA",
        "GetCurrentDirectoryA",
        "SetCurrentDirectoryA",
        "RemoveDirectoryA",
        "FindFirstFileA",
        "FindNextFileA",
        "FindClose",
        "DeleteFileA",
        "MessageBoxA",
        "GetLastError",
        "log_file_open",
    };
    return names[int(call)];
}

std::string detail::handle_name(uintptr_t handle) {
    if (handle == (uintptr_t)HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (handle == (uintptr_t)INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    if (handle > first_search_handle && handle < first_search_handle + 0x10000)
        return "search" + std::to_string(handle - first_search_handle);
    if (handle > first_key_handle && handle < first_key_handle + 0x10000)
        return "key" + std::to_string(handle - first_key_handle);
    char text[32];
    std::snprintf(text, sizeof text, "handle%#lx", (unsigned long)handle);
    return text;
}

std::string describe(const Record &record) {
    std::string line = call_name(record.call);
    if (record.handle != 0)
        line += " " + handle_name(record.handle);
    bool has_text = !record.text.empty() || record.call == Call::reg_open_key ||
                    record.call == Call::reg_delete_key ||
                    record.call == Call::set_current_directory ||
                    record.call == Call::remove_directory || record.call == Call::delete_file ||
                    record.call == Call::log_file_open;
    if (has_text)
        line += " \"" + record.text + "\"";
    if (record.call == Call::message_box)
        line += " \"" + record.second_text + "\" type " + std::to_string(record.type);
    line += " = " + std::to_string(record.result);
    if (record.opened != 0)
        line += " -> " + handle_name(record.opened);
    bool is_search = record.call == Call::find_first_file || record.call == Call::find_next_file;
    if (is_search && !record.second_text.empty())
        line += " [\"" + record.second_text + "\"]";
    if (record.call == Call::log_file_open)
        line += " (" + record.second_text + ")";
    if (record.injected)
        line += " (injected)";
    return line;
}

void fail_call(Call call, unsigned nth, bool from_then_on) {
    state().injections[int(call)].push_back({nth, from_then_on});
}

unsigned faults_fired() {
    return state().fired;
}

unsigned uses_of(Call call) {
    return state().uses[int(call)];
}

const std::vector<Record> &calls() {
    return state().records;
}

std::vector<Record> calls_of(std::initializer_list<Call> kinds) {
    std::vector<Record> chosen;
    for (const Record &record : state().records)
        for (Call kind : kinds)
            if (record.call == kind)
                chosen.push_back(record);
    return chosen;
}

std::vector<std::string> described(const std::vector<Record> &records) {
    std::vector<std::string> lines;
    for (const Record &record : records)
        lines.push_back(describe(record));
    return lines;
}

unsigned message_box_calls() {
    return uses_of(Call::message_box);
}

const std::vector<std::string> &program_faults() {
    return state().faults;
}

void clear_program_faults() {
    state().faults.clear();
}

void end_of_run() {
    for (const auto &[handle, key] : state().open_keys)
        program_fault("registry handle " + handle_name(handle) + " to \"" + key_path(*key) +
                      "\" never closed");
    for (const auto &open : state().open_searches)
        program_fault("search " + handle_name(open.first) + " never closed");
}

void reset() {
    State &s = state();
    s.records.clear();
    s.faults.clear();
    s.deleted_keys.clear();
    s.deleted_paths.clear();
    s.open_keys.clear();
    s.closed_keys.clear();
    s.open_searches.clear();
    s.closed_searches.clear();
    s.keys_opened = 0;
    s.searches_opened = 0;
    for (int kind = 0; kind < call_kinds; ++kind) {
        s.uses[kind] = 0;
        s.injections[kind].clear();
    }
    s.fired = 0;
    s.last_error = ERROR_SUCCESS;
    s.box_result = IDOK;
    s.query_fills = true;
    reset_registry();
    reset_files();
    reset_log_folder();
    add_folder("C:\\WINDOWS");
    set_current_directory("C:\\");
    s.windows_dir = "C:\\WINDOWS";
}

} // namespace platform_double

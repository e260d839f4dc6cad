// Runs code in a child process and takes back what it did to the double, so
// that a test starts the program with its globals as a fresh process has them.
#include <cerrno>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

#include "paths_double.h"

namespace platform_double {
namespace detail {

// The child's state as length-prefixed fields, read back in the same order.
class Writer {
  public:
    void number(int64_t value) { bytes_.append((const char *)&value, sizeof value); }
    void text(const std::string &value) {
        number(int64_t(value.size()));
        bytes_ += value;
    }
    void texts(const std::vector<std::string> &values) {
        number(int64_t(values.size()));
        for (const std::string &value : values)
            text(value);
    }
    const std::string &bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

class Reader {
  public:
    explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
    int64_t number() {
        int64_t value = 0;
        if (take(sizeof value))
            std::memcpy(&value, bytes_.data() + at_ - sizeof value, sizeof value);
        return value;
    }
    std::string text() {
        size_t size = size_t(number());
        return take(size) ? bytes_.substr(at_ - size, size) : std::string();
    }
    std::vector<std::string> texts() {
        std::vector<std::string> values;
        values.resize(size_t(number()));
        for (std::string &value : values)
            value = text();
        return values;
    }
    bool complete() const { return ok_ && at_ == bytes_.size(); }

  private:
    bool take(size_t size) {
        ok_ = ok_ && size <= bytes_.size() - at_;
        if (ok_)
            at_ += size;
        return ok_;
    }
    std::string bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

static void write_records(Writer &out) {
    out.number(int64_t(state().records.size()));
    for (const Record &record : state().records) {
        out.number(int64_t(record.call));
        out.text(record.text);
        out.text(record.second_text);
        out.number(int64_t(record.handle));
        out.number(int64_t(record.opened));
        out.number(record.result);
        out.number(record.type);
        out.number(record.injected);
    }
}

static void read_records(Reader &in) {
    state().records.resize(size_t(in.number()));
    for (Record &record : state().records) {
        record.call = Call(in.number());
        record.text = in.text();
        record.second_text = in.text();
        record.handle = uintptr_t(in.number());
        record.opened = uintptr_t(in.number());
        record.result = long(in.number());
        record.type = unsigned(in.number());
        record.injected = in.number() != 0;
    }
}

static void write_keys(Writer &out, const Key &key, const std::string &prefix) {
    for (const auto &subkey : key.subkeys) {
        std::string path = prefix.empty() ? subkey->name : prefix + "\\" + subkey->name;
        out.number(1);
        out.text(path);
        out.number(subkey->value.has_value());
        out.text(subkey->value.value_or(""));
        write_keys(out, *subkey, path);
    }
}

static void read_keys(Reader &in) {
    reset_registry();
    while (in.number() == 1) {
        std::string path = in.text();
        bool has_value = in.number() != 0;
        std::string value = in.text();
        add_key(path);
        if (has_value)
            set_raw_value(path, value);
    }
}

static void write_nodes(Writer &out, const Node &folder) {
    for (const auto &child : folder.children) {
        out.number(1);
        out.text(node_path(*child));
        out.number(int64_t(child->kind));
        out.number(child->read_only | child->no_enter << 1 | child->no_list << 2);
        out.text(child->target);
        write_nodes(out, *child);
    }
}

static void read_nodes(Reader &in) {
    while (in.number() == 1) {
        std::string path = in.text();
        Kind kind = Kind(in.number());
        int64_t flags = in.number();
        std::string target = in.text();
        if (kind == Kind::folder_link)
            add_folder_link(path, target);
        else if (kind == Kind::file)
            add_file(path);
        else
            add_folder(path);
        Resolved resolved = resolve(path, false);
        if (resolved.node == nullptr)
            continue;
        resolved.node->read_only = flags & 1;
        resolved.node->no_enter = flags & 2;
        resolved.node->no_list = flags & 4;
    }
}

static void write_files(Writer &out) {
    out.number(int64_t(state().drives.size()));
    for (const auto &drive : state().drives) {
        out.text(drive.second->name);
        write_nodes(out, *drive.second);
        out.number(0);
    }
    out.text(chain_path(state().current));
}

static void read_files(Reader &in) {
    reset_files();
    for (int64_t drives = in.number(); drives > 0; --drives) {
        add_folder(in.text() + "\\");
        read_nodes(in);
    }
    std::string current = in.text();
    if (!current.empty())
        set_current_directory(current);
}

static std::string child_state(int result) {
    Writer out;
    out.number(result);
    write_records(out);
    out.texts(state().faults);
    out.texts(state().deleted_keys);
    out.texts(state().deleted_paths);
    for (unsigned uses : state().uses)
        out.number(uses);
    out.number(state().fired);
    out.number(state().last_error);
    out.text(state().log_folder);
    write_keys(out, *state().classes_root, "");
    out.number(0);
    write_files(out);
    return out.bytes();
}

// Handles of the child's run are gone with it: the parent keeps none open.
static bool take_child_state(const std::string &bytes, int &result) {
    Reader in(bytes);
    State &s = state();
    result = int(in.number());
    read_records(in);
    s.faults = in.texts();
    s.deleted_keys = in.texts();
    s.deleted_paths = in.texts();
    for (unsigned &uses : s.uses)
        uses = unsigned(in.number());
    s.fired = unsigned(in.number());
    s.last_error = DWORD(in.number());
    s.log_folder = in.text();
    read_keys(in);
    read_files(in);
    s.open_keys.clear();
    s.open_searches.clear();
    return in.complete();
}

static void write_all(int fd, const std::string &bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            _exit(3);
        done += size_t(written);
    }
}

static std::string read_all(int fd) {
    std::string bytes;
    char chunk[65536];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) != 0;)
        if (got > 0)
            bytes.append(chunk, size_t(got));
        else if (errno != EINTR)
            break;
    return bytes;
}

} // namespace detail

using namespace detail;

std::optional<int> run_in_child(const std::function<int()> &body) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        ADD_FAILURE() << "cannot make a pipe to a child";
        return std::nullopt;
    }
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        int result = body();
        end_of_run();
        write_all(pipe_ends[1], child_state(result));
        _exit(0);
    }
    close(pipe_ends[1]);
    std::string bytes = child < 0 ? std::string() : read_all(pipe_ends[0]);
    close(pipe_ends[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "the child running the program did not end normally (status " << status
                      << ")";
        return std::nullopt;
    }
    int result = 0;
    if (!take_child_state(bytes, result)) {
        ADD_FAILURE() << "the child's state came back incomplete";
        return std::nullopt;
    }
    return result;
}

} // namespace platform_double

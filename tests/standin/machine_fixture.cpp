#include "machine_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <windows.h>

namespace fs = std::filesystem;

// Folders made read-only or unenterable by a test must be opened up again
// before anything can look into them or remove them (root needs no bits, an
// ordinary user does).
static void open_up(const std::string &dir) {
    struct stat info;
    if (lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        chmod(dir.c_str(), info.st_mode | S_IRWXU);
}

static void list_into(const std::string &root, const std::string &relative,
                      std::vector<std::string> &entries) {
    std::string dir = relative.empty() ? root : root + "/" + relative;
    open_up(dir);
    DIR *handle = opendir(dir.c_str());
    if (handle == nullptr)
        return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(handle))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.push_back(entry->d_name);
    closedir(handle);
    for (const std::string &name : names) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        entries.push_back(path);
        struct stat info;
        if (lstat((root + "/" + path).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            list_into(root, path, entries);
    }
}

std::vector<std::string> list_tree(const std::string &root) {
    std::vector<std::string> entries;
    list_into(root, "", entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

void MachineTest::SetUp() {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                          "/uninst-standin-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "cannot make a temporary folder";
    base_ = pattern;
    machine_ = base_ + "/machine";
    make_dir("drive_c/WINDOWS");
    fs::create_directories(outside(""));
}

void MachineTest::TearDown() {
    if (base_.empty())
        return;
    list_tree(base_); // opens up every folder on the way
    std::error_code ignored;
    fs::remove_all(base_, ignored);
}

std::string MachineTest::host(const std::string &relative) const {
    return relative.empty() ? machine_ : machine_ + "/" + relative;
}

std::string MachineTest::outside(const std::string &relative) const {
    return relative.empty() ? base_ + "/outside" : base_ + "/outside/" + relative;
}

void MachineTest::make_dir(const std::string &relative, mode_t mode) const {
    fs::create_directories(host(relative));
    chmod(host(relative).c_str(), mode);
}

void MachineTest::write_file(const std::string &relative, const std::string &text,
                             mode_t mode) const {
    fs::create_directories(fs::path(host(relative)).parent_path());
    std::ofstream(host(relative), std::ios::binary) << text;
    chmod(host(relative).c_str(), mode);
}

std::string MachineTest::read_file(const std::string &relative) const {
    std::ifstream in(host(relative), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool MachineTest::exists(const std::string &relative) const {
    struct stat info;
    return lstat(host(relative).c_str(), &info) == 0;
}

void MachineTest::in_fresh_process(const std::function<void()> &body,
                                   const std::string &start) const {
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0) << "fork failed";
    if (child == 0) {
        setenv("UNINST_MACHINE", machine_.c_str(), 1);
        if (chdir(start.empty() ? machine_.c_str() : start.c_str()) != 0)
            ADD_FAILURE() << "cannot start in " << start;
        else
            body();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    int child_exit_status = WEXITSTATUS(status);
    EXPECT_EQ(child_exit_status, 0) << "the child failed (its messages are above)";
}

std::vector<FoundEntry> find_all(const char *pattern) {
    std::vector<FoundEntry> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do
        found.push_back(FoundEntry{data.cFileName, data.dwFileAttributes});
    while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

std::string current_directory() {
    char buffer[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer) : std::string("<too long>");
}

// A fresh Windows machine folder for each test, and a fresh process to run
// the stand-in in: the stand-in reads UNINST_MACHINE and sets up its current
// directory once per process, so every body that calls it runs in a child.
#ifndef UNINST_TESTS_STANDIN_MACHINE_FIXTURE_H
#define UNINST_TESTS_STANDIN_MACHINE_FIXTURE_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The host path of `relative` inside the machine folder ("drive_c/APPS").
    std::string host(const std::string &relative) const;
    // A folder beside the machine folder, for what must stay out of reach.
    std::string outside(const std::string &relative) const;

    void make_dir(const std::string &relative, mode_t mode = 0755) const;
    void write_file(const std::string &relative, const std::string &text, mode_t mode = 0644) const;
    std::string read_file(const std::string &relative) const;
    bool exists(const std::string &relative) const;

    // Runs `body` in a child process that sees this machine and starts in
    // the host folder `start` (the machine folder itself when empty, which
    // lies in no drive: the current directory is then C:\). A failure in the
    // child is printed there and fails the test here.
    void in_fresh_process(const std::function<void()> &body, const std::string &start = "") const;

    std::string base_;    // the test's own temporary folder
    std::string machine_; // base_/machine
};

// The entries of the host folder `root`, every level, as sorted relative
// paths ("A", "A/b.txt"), links listed but never followed.
std::vector<std::string> list_tree(const std::string &root);

// The entry names that FindFirstFileA and FindNextFileA report for `pattern`,
// each with its attribute word; empty when the search cannot be opened.
struct FoundEntry {
    std::string name;
    unsigned attributes;
};
std::vector<FoundEntry> find_all(const char *pattern);

// GetCurrentDirectoryA's text.
std::string current_directory();

#endif

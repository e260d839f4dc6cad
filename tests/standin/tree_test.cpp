// delete_tree on real folders through the stand-in: what goes, what stays,
// and that nothing outside the installation is touched through a link.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

#include "machine_fixture.h"
#include "tree.h"

namespace {

// One entry of a case's installation folder, relative to it.
struct Entry {
    char kind; // 'f' file, 'r' read-only file, 'd' folder, 'x' folder that cannot be entered, 'l' link
    std::string path;
    std::string target = ""; // for links: "@" names a host path below the outside folder
};

struct TreeCase {
    const char *label;
    std::vector<Entry> entries;
    std::vector<std::string> remaining; // sorted, as list_tree gives them
    mode_t start_mode = 0755;
};

const std::string level(50, 'L'); // one folder name in the chain that outgrows MAX_PATH

std::string chain(int depth) {
    std::string path;
    for (int i = 1; i <= depth; ++i)
        path += (i == 1 ? "" : "/") + level + std::to_string(i);
    return path;
}

std::vector<TreeCase> tree_cases() {
    std::vector<TreeCase> cases = {
        {"only its dot entries", {}, {}},
        {"files, one of them read-only",
         {{'f', "a.txt"}, {'r', "ro.txt"}, {'f', ".dotfile"}, {'f', "z"}},
         {"ro.txt"}},
        {"a dot-directory stays with its contents and every folder above it",
         {{'f', "keep/.cache/x"}, {'f', "keep/y"}, {'f', "top.txt"}, {'f', "other/z"}},
         {"keep", "keep/.cache", "keep/.cache/x"}},
        {"nested folders go, deepest first",
         {{'f', "a/1"}, {'f', "a/b/2"}, {'f', "a/b/c/3"}, {'d', "a/b/c/d"}, {'f', "e/4"}},
         {}},
        {"a folder that cannot be entered stays whole, its siblings go",
         {{'f', "before.txt"}, {'f', "locked/in.txt"}, {'x', "locked"}, {'f', "after/f"}},
         {"locked", "locked/in.txt"}},
        {"a read-only file keeps the folders above it",
         {{'r', "a/b/ro"}, {'f', "a/b/other"}, {'f', "a/x"}, {'f', "c/y"}},
         {"a", "a/b", "a/b/ro"}},
        {"links out of the tree go as links",
         {{'l', "out", "@keep"}, {'l', "file_out", "@keep/s1.txt"}, {'l', "sub/deeper_out", "@keep/sub"},
          {'l', "dangling", "@nowhere"}},
         {}},
        {"a link to a folder of the tree goes as a link",
         {{'f', "real/f"}, {'l', "alias", "real"}},
         {}},
        {"a folder whose search cannot be opened is left alone",
         {{'f', "a"}, {'f', "b/c"}},
         {"a", "b", "b/c"},
         0311},
    };
    // Below C:\INST each level adds 51 characters: the fifth would pass the
    // 258 that a current directory may hold, so it and its contents stay,
    // and with them the folders above it.
    TreeCase deep{"a tree deeper than the current directory may reach", {}, {}};
    for (int depth = 0; depth <= 6; ++depth)
        deep.entries.push_back({'f', (depth == 0 ? "" : chain(depth) + "/") + "file" + std::to_string(depth)});
    for (int depth = 1; depth <= 6; ++depth)
        deep.remaining.push_back(chain(depth));
    for (int depth = 5; depth <= 6; ++depth)
        deep.remaining.push_back(chain(depth) + "/file" + std::to_string(depth));
    std::sort(deep.remaining.begin(), deep.remaining.end());
    cases.push_back(deep);
    return cases;
}

class TreeTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        write_file("../outside/keep/s1.txt", "sentinel");
        write_file("../outside/keep/sub/s2.txt", "sentinel");
    }

    void build(const TreeCase &c) const {
        make_dir("drive_c/INST");
        for (const Entry &entry : c.entries) {
            std::string path = "drive_c/INST/" + entry.path;
            if (entry.kind == 'f' || entry.kind == 'r')
                write_file(path, "x");
            else if (entry.kind == 'd' || entry.kind == 'x')
                make_dir(path);
            else {
                make_dir(path.substr(0, path.rfind('/')));
                std::string target = entry.target[0] == '@' ? outside(entry.target.substr(1)) : entry.target;
                ASSERT_EQ(symlink(target.c_str(), host(path).c_str()), 0) << path;
            }
        }
        // Permissions last: a closed folder cannot be filled any more.
        for (const Entry &entry : c.entries)
            if (entry.kind == 'r' || entry.kind == 'x')
                chmod(host("drive_c/INST/" + entry.path).c_str(), entry.kind == 'r' ? 0444 : 0644);
        chmod(host("drive_c/INST").c_str(), c.start_mode);
    }
};

TEST_F(TreeTest, EmptiesWhatItMayAndLeavesTheRest) {
    const std::vector<std::string> outside_before = list_tree(outside(""));
    for (const TreeCase &c : tree_cases()) {
        SCOPED_TRACE(c.label);
        build(c);
        in_fresh_process([] {
            ASSERT_TRUE(SetCurrentDirectoryA("C:\\INST"));
            delete_tree();
            EXPECT_EQ(current_directory(), "C:\\INST") << "the current directory was not handed back";
        });
        EXPECT_EQ(list_tree(host("drive_c/INST")), c.remaining);
        EXPECT_EQ(list_tree(outside("")), outside_before);
        EXPECT_EQ(read_file("../outside/keep/s1.txt"), "sentinel");
        EXPECT_EQ(read_file("../outside/keep/sub/s2.txt"), "sentinel");
        std::filesystem::remove_all(host("drive_c/INST"));
    }
}

} // namespace

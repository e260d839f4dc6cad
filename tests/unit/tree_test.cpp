// The tree removal by the calls it makes on the double's folders: the order
// of its steps, what it leaves, and how it stops when it loses its way.
#include <algorithm>

#include "run_fixture.h"
#include "tree.h"

using namespace platform_double;

namespace {

const std::string top = "C:\\T";

// delete_tree in a child: its lost-way flag then starts clear for each test.
std::optional<int> run_delete_tree() {
    return run_in_child([] {
        delete_tree();
        return 0;
    });
}

class TreeTest : public PlatformDoubleTest {
  protected:
    void SetUp() override {
        PlatformDoubleTest::SetUp();
        add_folder(top);
        add_file("C:\\OUTSIDE\\precious.txt");
    }

    // The calls after the first whose line starts with `prefix`.
    std::vector<std::string> calls_after(const std::string &prefix) {
        std::vector<std::string> lines = described(calls());
        auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.rfind(prefix, 0) == 0;
        });
        return found == lines.end() ? lines : std::vector<std::string>(found + 1, lines.end());
    }
};

TEST_F(TreeTest, EntersEmptiesComesBackAndRemovesEachFolderInSearchOrder) {
    add_file(top + "\\a.txt");
    add_file(top + "\\S\\b.txt");
    add_file(top + "\\c.txt");
    set_current_directory(top);

    run_delete_tree();

    EXPECT_EQ((std::vector<std::string>{
                  "FindFirstFileA \"*.*\" = 1 -> search1 [\".\"]",
                  "FindNextFileA search1 = 1 [\"..\"]",
                  "FindNextFileA search1 = 1 [\"a.txt\"]",
                  "DeleteFileA \"a.txt\" = 1",
                  "FindNextFileA search1 = 1 [\"S\"]",
                  "SetCurrentDirectoryA \"S\" = 1",
                  "FindFirstFileA \"*.*\" = 1 -> search2 [\".\"]",
                  "FindNextFileA search2 = 1 [\"..\"]",
                  "FindNextFileA search2 = 1 [\"b.txt\"]",
                  "DeleteFileA \"b.txt\" = 1",
                  "FindNextFileA search2 = 0",
                  "FindClose search2 = 1",
                  "SetCurrentDirectoryA \"..\" = 1",
                  "RemoveDirectoryA \"S\" = 1",
                  "FindNextFileA search1 = 1 [\"c.txt\"]",
                  "DeleteFileA \"c.txt\" = 1",
                  "FindNextFileA search1 = 0",
                  "FindClose search1 = 1",
              }),
              described(calls()));
    EXPECT_EQ(top, current_directory());
}

struct TreeCase {
    const char *name;
    void (*machine)();
    std::vector<std::string> deleted; // In the order of removal, full paths.
    std::vector<std::string> kept;
    std::vector<std::string> never; // Calls that must not be made, by their first words.
};

void empty_folder() {}

void nested_folders() {
    add_file(top + "\\A\\f1");
    add_file(top + "\\A\\B\\f2");
    add_file(top + "\\A\\B\\C\\f3");
}

void read_only_file() {
    add_file(top + "\\S\\locked.txt", true);
    add_file(top + "\\S\\loose.txt");
    add_file(top + "\\after.txt");
}

void dot_names() {
    add_file(top + "\\.git\\config");
    add_file(top + "\\.profile");
    add_file(top + "\\plain.txt");
}

void closed_folder() {
    add_file(top + "\\A\\x");
    add_file(top + "\\B\\y");
    add_file(top + "\\C\\z");
    forbid_entering(top + "\\B");
}

void unlisted_top() {
    add_file(top + "\\x");
    forbid_listing(top);
}

void unlisted_folder() {
    add_file(top + "\\S\\x");
    add_file(top + "\\y");
    forbid_listing(top + "\\S");
}

void link_out() {
    add_folder_link(top + "\\L", "C:\\OUTSIDE");
    add_folder_link(top + "\\ROOT", "C:\\");
    add_file(top + "\\z");
}

const TreeCase tree_cases[] = {
    {"FolderWithOnlyDotEntriesStaysAsItIs", empty_folder, {}, {top}, {"DeleteFileA", "Remove"}},
    {"NestedFoldersGoDeepestFirst",
     nested_folders,
     {top + "\\A\\f1", top + "\\A\\B\\f2", top + "\\A\\B\\C\\f3", top + "\\A\\B\\C", top + "\\A\\B",
      top + "\\A"},
     {top},
     {}},
    {"ReadOnlyFileStaysWithItsFolders",
     read_only_file,
     {top + "\\S\\loose.txt", top + "\\after.txt"},
     {top + "\\S\\locked.txt"},
     {}},
    {"DotFoldersStayDotFilesGo",
     dot_names,
     {top + "\\.profile", top + "\\plain.txt"},
     {top + "\\.git\\config"},
     {"SetCurrentDirectoryA \".", "RemoveDirectoryA \"."}},
    {"FolderThatCannotBeEnteredStaysSiblingsGo",
     closed_folder,
     {top + "\\A\\x", top + "\\A", top + "\\C\\z", top + "\\C"},
     {top + "\\B\\y"},
     {"RemoveDirectoryA \"B\""}},
    {"FailedSearchOpenReturnsAtOnce",
     unlisted_top,
     {},
     {top + "\\x"},
     {"FindNextFileA", "FindClose", "DeleteFileA"}},
    {"FolderThatCannotBeListedStaysSiblingsGo",
     unlisted_folder,
     {top + "\\y"},
     {top + "\\S\\x"},
     {}},
    {"LinkIsRemovedNeverEntered",
     link_out,
     {top + "\\L", top + "\\ROOT", top + "\\z"},
     {"C:\\OUTSIDE\\precious.txt", "C:\\WINDOWS"},
     {"SetCurrentDirectoryA \"L\"", "SetCurrentDirectoryA \"ROOT\""}},
};

void PrintTo(const TreeCase &c, std::ostream *out) {
    *out << c.name;
}

class TreeCaseTest : public TreeTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(TreeCaseTest, RemovesWhatItMayAndReturnsWhereItStarted) {
    const TreeCase &c = GetParam();
    c.machine();
    set_current_directory(top);

    EXPECT_EQ(std::optional<int>(0), run_delete_tree());

    EXPECT_EQ(c.deleted, deleted_paths());
    for (const std::string &path : c.kept)
        EXPECT_TRUE(path_exists(path)) << path << " must stay";
    for (const std::string &line : described(calls()))
        for (const std::string &never : c.never)
            EXPECT_NE(0u, line.rfind(never, 0)) << "a call it must not make: " << line;
    EXPECT_EQ(top, current_directory());
}

INSTANTIATE_TEST_SUITE_P(DeleteTree, TreeCaseTest, ::testing::ValuesIn(tree_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Once ".." fails, the current directory is not the folder the open searches
// list: acting on any further name would reach some other folder.
TEST_F(TreeTest, FailedReturnByParentStopsEveryLevelAtOnce) {
    add_file(top + "\\S\\f");
    add_file(top + "\\after.txt");
    add_file(top + "\\S2\\g");
    set_current_directory(top);
    fail_call(Call::set_current_directory, 2);

    run_delete_tree();

    ASSERT_EQ(1u, faults_fired());
    EXPECT_EQ((std::vector<std::string>{"FindNextFileA search1 = 1 [\"after.txt\"]",
                                        "FindClose search1 = 1"}),
              calls_after("SetCurrentDirectoryA \"..\""));
    EXPECT_EQ(std::vector<std::string>{top + "\\S\\f"}, deleted_paths());
}

TEST_F(TreeTest, RunReturnsToItsSavedDirectoryAfterAFailedReturnByParent) {
    set_text_value("Zelvorant\\shell\\open\\command", "C:\\T\\VIEW.EXE");
    add_file(top + "\\S\\f");
    add_file(top + "\\VIEW.EXE");
    // The run's entering of C:\T is the first use, "S" the second, ".." the third.
    fail_call(Call::set_current_directory, 3);

    EXPECT_EQ(std::optional<int>(IDOK), run_fixture::run_win_main());

    ASSERT_EQ(1u, faults_fired());
    std::vector<std::string> after = calls_after("SetCurrentDirectoryA \"..\"");
    std::vector<std::string> moves;
    for (const std::string &line : after)
        if (line.rfind("FindNextFileA", 0) != 0 && line.rfind("FindClose", 0) != 0 &&
            line.rfind("log_file_open", 0) != 0)
            moves.push_back(line);
    EXPECT_EQ((std::vector<std::string>{
                  "SetCurrentDirectoryA \"C:\\\" = 1",
                  "RemoveDirectoryA \"C:\\T\" = 0",
                  "MessageBoxA \"The 3D presentations viewer has been removed from this "
                  "computer\n\" \"Zelvorant Uninstall\" type 0 = 1",
              }),
              moves);
    EXPECT_EQ("C:\\", current_directory());
    EXPECT_TRUE(path_exists(top + "\\VIEW.EXE"));
}

} // namespace

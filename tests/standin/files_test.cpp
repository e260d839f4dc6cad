// The KERNEL32 calls that delete and move: DeleteFileA, RemoveDirectoryA and
// SetCurrentDirectoryA, with the refusals Windows makes and the ones the
// stand-in adds so that a tree removal can never be led astray.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "machine_fixture.h"

namespace {

class FilesTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        write_file("drive_c/T/a.txt", "a");
        write_file("drive_c/T/ro.txt", "ro", 0444);
        write_file("drive_c/T/Mixed.TXT", "m");
        write_file("drive_c/T/FULL/inside.txt", "i");
        make_dir("drive_c/T/EMPTY");
        write_file("../outside/target.txt", "target");
        write_file("../outside/dir/sentinel.txt", "sentinel");
        ASSERT_EQ(symlink(outside("target.txt").c_str(), host("drive_c/T/flink").c_str()), 0);
        ASSERT_EQ(symlink(outside("dir").c_str(), host("drive_c/T/dlink").c_str()), 0);
        ASSERT_EQ(symlink("FULL", host("drive_c/T/near").c_str()), 0);
    }

    void expect_outside_intact() const {
        EXPECT_EQ(read_file("../outside/target.txt"), "target");
        EXPECT_EQ(read_file("../outside/dir/sentinel.txt"), "sentinel");
    }
};

struct RemovalCase {
    const char *name;
    BOOL expected;
    DWORD error;     // the last error when refused
    const char *gone; // the host entry that must be gone, or must stay when refused
};

TEST_F(FilesTest, DeleteFileRemovesFilesAndLinksAndRefusesTheRest) {
    const RemovalCase cases[] = {
        {"a.txt", TRUE, 0, "drive_c/T/a.txt"},
        {"mixed.txt", TRUE, 0, "drive_c/T/Mixed.TXT"},
        {"flink", TRUE, 0, "drive_c/T/flink"},
        {"ro.txt", FALSE, ERROR_ACCESS_DENIED, "drive_c/T/ro.txt"},
        {"FULL", FALSE, ERROR_ACCESS_DENIED, "drive_c/T/FULL"},
        {"dlink", FALSE, ERROR_ACCESS_DENIED, "drive_c/T/dlink"},
        {"missing.txt", FALSE, ERROR_FILE_NOT_FOUND, "drive_c/T/missing.txt"},
    };
    for (const RemovalCase &c : cases) {
        SCOPED_TRACE(c.name);
        in_fresh_process([&] {
            ASSERT_TRUE(SetCurrentDirectoryA("C:\\T"));
            EXPECT_EQ(DeleteFileA(c.name), c.expected);
            if (!c.expected) {
                EXPECT_EQ(GetLastError(), c.error);
            }
        });
        EXPECT_EQ(exists(c.gone), !c.expected && c.error != ERROR_FILE_NOT_FOUND);
    }
    expect_outside_intact();
}

TEST_F(FilesTest, RemoveDirectoryRemovesOnlyEmptyFoldersAndLinksAsLinks) {
    const RemovalCase cases[] = {
        {"EMPTY", TRUE, 0, "drive_c/T/EMPTY"},
        {"dlink", TRUE, 0, "drive_c/T/dlink"},
        {"near", TRUE, 0, "drive_c/T/near"},
        {"FULL", FALSE, ERROR_DIR_NOT_EMPTY, "drive_c/T/FULL"},
        {"a.txt", FALSE, ERROR_DIRECTORY, "drive_c/T/a.txt"},
        {"missing", FALSE, ERROR_FILE_NOT_FOUND, "drive_c/T/missing"},
    };
    for (const RemovalCase &c : cases) {
        SCOPED_TRACE(c.name);
        in_fresh_process([&] {
            ASSERT_TRUE(SetCurrentDirectoryA("C:\\T"));
            EXPECT_EQ(RemoveDirectoryA(c.name), c.expected);
            if (!c.expected) {
                EXPECT_EQ(GetLastError(), c.error);
            }
        });
        EXPECT_EQ(exists(c.gone), !c.expected && c.error != ERROR_FILE_NOT_FOUND);
    }
    EXPECT_TRUE(exists("drive_c/T/FULL/inside.txt")) << "the target of a removed link lost its file";
    expect_outside_intact();
}

TEST_F(FilesTest, RemoveDirectoryRefusesTheCurrentDirectory) {
    in_fresh_process([] {
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\T\\EMPTY"));
        EXPECT_FALSE(RemoveDirectoryA("C:\\T\\EMPTY"));
        EXPECT_FALSE(RemoveDirectoryA("..\\EMPTY"));
        EXPECT_EQ(current_directory(), "C:\\T\\EMPTY");
    });
    EXPECT_TRUE(exists("drive_c/T/EMPTY"));
}

// Entering a link by its name could land anywhere, and ".." would then not
// lead back: a link is never entered, wherever it points.
TEST_F(FilesTest, SetCurrentDirectoryNeverEntersALink) {
    in_fresh_process([] {
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\T"));
        for (const char *name : {"dlink", "near", "flink", "a.txt", "C:\\T\\near"}) {
            EXPECT_FALSE(SetCurrentDirectoryA(name)) << name;
            EXPECT_EQ(current_directory(), "C:\\T") << name;
        }
        EXPECT_TRUE(SetCurrentDirectoryA("FULL"));
    });
}

// The shape of rm's CVE-2002-0435: while a folder is being emptied, another
// process moves it elsewhere. ".." would then lead into the new parent and
// the removal would go on there; it must fail and leave the process where
// it stood.
TEST_F(FilesTest, ParentOfAFolderMovedAwayCannotBeEntered) {
    write_file("drive_c/T/A/B/marker.txt", "m");
    make_dir("drive_c/ELSEWHERE");
    const struct {
        const char *label;
        std::vector<const char *> moves;
    } cases[] = {
        {"entered by name", {"C:\\T\\A", "B"}},
        {"entered by full path", {"C:\\T\\A\\B"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        in_fresh_process([&] {
            for (const char *move : c.moves)
                ASSERT_TRUE(SetCurrentDirectoryA(move)) << move;
            ASSERT_EQ(rename(host("drive_c/T/A/B").c_str(), host("drive_c/ELSEWHERE/B").c_str()), 0);
            EXPECT_FALSE(SetCurrentDirectoryA(".."));
            EXPECT_EQ(current_directory(), "C:\\T\\A\\B");
            std::vector<FoundEntry> found = find_all("*.*");
            EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                                    [](const FoundEntry &e) { return e.name == "marker.txt"; }))
                << "the process no longer stands in the moved folder";
            ASSERT_EQ(rename(host("drive_c/ELSEWHERE/B").c_str(), host("drive_c/T/A/B").c_str()), 0);
        });
    }
}

// The current directory's text must stay within MAX_PATH less the trailing
// backslash and the terminator, 258 characters, as on Windows.
TEST_F(FilesTest, CurrentDirectoryStaysWithinTheWindowsLimit) {
    const std::string top(200, 'd'); // "C:\" and these make 203 characters
    make_dir("drive_c/" + top);
    const struct {
        size_t name_length;
        BOOL enters;
    } cases[] = {{54, TRUE}, {55, FALSE}, {120, FALSE}};
    for (const auto &c : cases) {
        std::string name(c.name_length, 'n');
        make_dir("drive_c/" + top + "/" + name);
        SCOPED_TRACE("current directory of " + std::to_string(3 + top.size() + 1 + name.size()) + " characters");
        in_fresh_process([&] {
            ASSERT_TRUE(SetCurrentDirectoryA(("C:\\" + top).c_str()));
            EXPECT_EQ(SetCurrentDirectoryA(name.c_str()), c.enters) << "by its name";
            ASSERT_TRUE(SetCurrentDirectoryA(("C:\\" + top).c_str()));
            EXPECT_EQ(SetCurrentDirectoryA(("C:\\" + top + "\\" + name).c_str()), c.enters) << "by full path";
        });
    }
}

} // namespace

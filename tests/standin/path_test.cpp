// Windows paths on the machine: the forms SetCurrentDirectoryA accepts, the
// names it refuses, where a process starts, and that nothing ever reaches
// outside the machine folder.
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <windows.h>

#include "machine_fixture.h"
#include "platform.h"

namespace {

bool same_text_any_case(const std::string &a, const std::string &b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

class PathTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        make_dir("drive_c/APPS/VIEWER/BIN");
        make_dir("drive_d/DATA/SUB");
    }
};

TEST_F(PathTest, CurrentDirectoryFollowsEveryPathForm) {
    const struct {
        std::vector<const char *> before;
        const char *path;
        const char *expected;
    } cases[] = {
        {{}, "C:\\APPS\\VIEWER", "C:\\APPS\\VIEWER"},
        {{}, "C:/APPS/VIEWER/", "C:\\APPS\\VIEWER"},
        {{"C:\\APPS"}, "VIEWER\\BIN", "C:\\APPS\\VIEWER\\BIN"},
        {{"C:\\APPS\\VIEWER"}, ".\\BIN\\.", "C:\\APPS\\VIEWER\\BIN"},
        {{"C:\\APPS\\VIEWER"}, "..", "C:\\APPS"},
        {{"C:\\APPS\\VIEWER\\BIN"}, "..\\..", "C:\\APPS"},
        {{}, "..", "C:\\"},
        {{}, "C:\\..\\..\\APPS", "C:\\APPS"},
        {{"C:\\APPS\\VIEWER"}, "..\\..\\..\\..\\APPS", "C:\\APPS"},
        {{"C:\\APPS\\VIEWER"}, "C:", "C:\\APPS\\VIEWER"},
        {{"C:\\APPS"}, "C:VIEWER", "C:\\APPS\\VIEWER"},
        {{"C:\\APPS\\VIEWER"}, "\\APPS", "C:\\APPS"},
        {{"D:\\DATA\\SUB"}, "\\DATA", "D:\\DATA"},
        {{"C:\\APPS"}, "d:\\DATA", "D:\\DATA"},
        {{"C:\\APPS\\VIEWER"}, "C:\\", "C:\\"},
    };
    in_fresh_process([&] {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.path);
            for (const char *step : c.before)
                ASSERT_TRUE(SetCurrentDirectoryA(step)) << step;
            EXPECT_TRUE(SetCurrentDirectoryA(c.path)) << "error " << GetLastError();
            EXPECT_EQ(current_directory(), c.expected);
            ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
        }
    });
}

TEST_F(PathTest, NamesMatchFoldersInAnyCase) {
    in_fresh_process([] {
        ASSERT_TRUE(SetCurrentDirectoryA("c:\\apps\\Viewer"));
        EXPECT_TRUE(same_text_any_case(current_directory(), "C:\\APPS\\VIEWER")) << current_directory();
        ASSERT_TRUE(SetCurrentDirectoryA("bin"));
        EXPECT_TRUE(same_text_any_case(current_directory(), "C:\\APPS\\VIEWER\\BIN")) << current_directory();
    });
}

TEST_F(PathTest, EmptyForbiddenAndMissingNamesFailAndLeaveTheCurrentDirectory) {
    const char *const refused[] = {
        "",          "VIE<WER",        "VIE>WER",           "VIE|WER",    "VIE\"WER",
        "VIE?WER",   "VIE*WER",        "VIE\x01WER",        "VIE\tWER",   "VIEWER:x",
        "C:\\APPS:VIEWER", "C:\\APPS\\VIE:WER", "\"C:\\APPS\\VIEWER\"", "Missing",
        "C:\\APPS\\VIEWER\\..\\Missing", "Q:\\", "Q:", "\\\\server\\share",
    };
    in_fresh_process([&] {
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\APPS"));
        for (const char *path : refused) {
            EXPECT_FALSE(SetCurrentDirectoryA(path)) << "accepted: " << path;
            EXPECT_NE(GetLastError(), DWORD(ERROR_SUCCESS)) << path;
            EXPECT_EQ(current_directory(), "C:\\APPS") << path;
        }
    });
}

// A process starts where its host working folder stands on the machine, as
// Wine maps a Unix working folder to its drive; anywhere else it is C:\.
TEST_F(PathTest, ProcessStartsInTheDriveFolderItIsStartedIn) {
    make_dir("drive_c/APPS/odd:name");
    const struct {
        std::string host_start;
        const char *expected;
    } cases[] = {
        {host(""), "C:\\"},
        {host("drive_c"), "C:\\"},
        {host("drive_c/APPS/VIEWER"), "C:\\APPS\\VIEWER"},
        {host("drive_d/DATA"), "D:\\DATA"},
        {host("drive_c/APPS/odd:name"), "C:\\"},
        {outside(""), "C:\\"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host_start);
        in_fresh_process([&] { EXPECT_EQ(current_directory(), c.expected); }, c.host_start);
    }
}

// Too small a buffer gets nothing but the size it needs, terminator
// included, as both functions do on Windows.
TEST_F(PathTest, DirectoryQueriesHonourTheirCapacity) {
    in_fresh_process([] {
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\APPS\\VIEWER"));
        const std::string current = "C:\\APPS\\VIEWER", windows = "C:\\WINDOWS";
        for (unsigned extra : {0u, 1u, 100u}) {
            SCOPED_TRACE("room for the text and " + std::to_string(extra) + " bytes more");
            char buffer[300];
            memset(buffer, 'x', sizeof buffer);
            EXPECT_EQ(GetCurrentDirectoryA(DWORD(current.size() + 1 + extra), buffer), current.size());
            EXPECT_STREQ(buffer, current.c_str());
            memset(buffer, 'x', sizeof buffer);
            EXPECT_EQ(GetWindowsDirectoryA(buffer, UINT(windows.size() + 1 + extra)), windows.size());
            EXPECT_STREQ(buffer, windows.c_str());
        }
        for (unsigned short_by : {1u, 2u, 5u}) {
            SCOPED_TRACE("short by " + std::to_string(short_by));
            char buffer[300];
            memset(buffer, 'x', sizeof buffer);
            EXPECT_EQ(GetCurrentDirectoryA(DWORD(current.size() + 1 - short_by), buffer), current.size() + 1);
            EXPECT_EQ(GetWindowsDirectoryA(buffer, UINT(windows.size() + 1 - short_by)), windows.size() + 1);
            EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
        }
        EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), current.size() + 1);
        EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), windows.size() + 1);
    });
}

// Links planted inside the machine that point out of it, and paths that
// climb above a drive's root, must never reach the host outside the machine.
TEST_F(PathTest, NoPathReachesOutsideTheMachine) {
    make_dir("drive_c/APPS");
    std::string target = outside("");
    mkdir((target + "/inner").c_str(), 0755);
    write_file("../outside/sentinel.txt", "keep");
    write_file("../outside/inner/sentinel.txt", "keep");
    ASSERT_EQ(symlink(target.c_str(), host("drive_c/ESCAPE").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), host("drive_e").c_str()), 0);
    write_file("registry.reg", "REGEDIT4\r\n");
    std::vector<std::string> outside_before = list_tree(target);
    in_fresh_process([&] {
        for (const char *path : {"C:\\ESCAPE", "ESCAPE", "C:\\ESCAPE\\inner", "E:\\", "E:\\inner"}) {
            EXPECT_FALSE(SetCurrentDirectoryA(path)) << path;
            EXPECT_EQ(current_directory(), "C:\\") << path;
        }
        for (const char *path : {"C:\\ESCAPE\\sentinel.txt", "ESCAPE\\inner\\sentinel.txt", "E:\\sentinel.txt",
                                 "C:\\..\\registry.reg", "..\\..\\registry.reg"})
            EXPECT_FALSE(DeleteFileA(path)) << path;
        for (const char *path : {"C:\\ESCAPE\\inner", "E:\\inner"})
            EXPECT_FALSE(RemoveDirectoryA(path)) << path;
        WIN32_FIND_DATAA data;
        for (const char *pattern : {"C:\\ESCAPE\\*.*", "E:\\*.*", "ESCAPE\\inner\\*.*"})
            EXPECT_EQ(FindFirstFileA(pattern, &data), INVALID_HANDLE_VALUE) << pattern;
        EXPECT_EQ(log_file_open("C:\\ESCAPE\\new.log", 1), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\APPS"));
        EXPECT_FALSE(DeleteFileA("..\\..\\..\\registry.reg"));
    });
    EXPECT_EQ(list_tree(target), outside_before);
    EXPECT_EQ(read_file("../outside/sentinel.txt"), "keep");
    EXPECT_TRUE(exists("registry.reg")) << "a path climbed out of drive C:";
}

} // namespace

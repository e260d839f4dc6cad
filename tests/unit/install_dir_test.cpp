// The installation directory's two helpers: the cut of the open command at
// its last backslash, and the vetting of what the cut leaves.
#include <gtest/gtest.h>

#include <cstring>

#include "install_dir.h"

namespace {

struct CutCase {
    const char *command;
    const char *dir;
};

const CutCase cut_cases[] = {
    {"C:\\APPS\\VIEWER\\VIEW.EXE %1", "C:\\APPS\\VIEWER"},
    // Backslashes in the arguments count too: the last one anywhere wins.
    {"C:\\APPS\\VIEW.EXE /d C:\\DATA\\%1", "C:\\APPS\\VIEW.EXE /d C:\\DATA"},
    {"\"C:\\APPS\\VIEWER\\VIEW.EXE\" \"%1\"", "\"C:\\APPS\\VIEWER"},
    {"C:\\VIEW.EXE", "C:"},
    {"C:\\APPS\\", "C:\\APPS"},
    {"VIEW.EXE %1", ""},
    {"", ""},
    {"\\", ""},
};

TEST(CutAtLastBackslash, KeepsWhatComesBeforeTheLastBackslash) {
    for (const CutCase &c : cut_cases) {
        char text[install_dir_size] = {};
        std::strncpy(text, c.command, sizeof text - 1);
        cut_at_last_backslash(text);
        EXPECT_STREQ(c.dir, text) << "command: " << c.command;
    }
}

struct SafetyCase {
    const char *dir;
    const char *windows_dir;
    bool safe;
};

const SafetyCase safety_cases[] = {
    {"C:\\APPS\\VIEWER", "C:\\WINDOWS", true},
    {"d:\\viewer", "C:\\WINDOWS", true},
    {"C:\\Program Files\\Zelvorant", "C:\\WINDOWS", true},
    {"C:\\WINDOWSX", "C:\\WINDOWS", true},
    {"C:\\WIN", "C:\\WINDOWS", true},
    {"C:\\APPS\\VIEWER.1", "C:\\WINDOWS", true},
    {"C:\\APPS\\CONSOLE", "C:\\WINDOWS", true},
    {"C:\\APPS\\A~B", "C:\\WINDOWS", true},
    {"C:", "C:\\WINDOWS", false},
    {"C:\\", "C:\\WINDOWS", false},
    {"", "C:\\WINDOWS", false},
    {"\"C:\\APPS\\VIEWER", "C:\\WINDOWS", false},
    {"APPS\\VIEWER", "C:\\WINDOWS", false},
    {"\\APPS\\VIEWER", "C:\\WINDOWS", false},
    {"C:APPS\\VIEWER", "C:\\WINDOWS", false},
    {"\\\\server\\share\\VIEWER", "C:\\WINDOWS", false},
    {"\\\\?\\C:\\APPS", "C:\\WINDOWS", false},
    {"1:\\APPS", "C:\\WINDOWS", false},
    {"C:\\APPS\\..", "C:\\WINDOWS", false},
    {"C:\\APPS\\..\\WINDOWS", "C:\\WINDOWS", false},
    {"C:\\.\\APPS", "C:\\WINDOWS", false},
    {"C:\\APPS\\\\VIEWER", "C:\\WINDOWS", false},
    {"C:\\APPS\\VIEWER\\", "C:\\WINDOWS", false},
    {"C:\\WINDOWS", "C:\\WINDOWS", false},
    {"c:\\windows", "C:\\WINDOWS", false},
    {"C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS", false},
    {"C:\\WINDOWS", "C:\\WINDOWS\\", false},
    {"C:\\WINDOWS\\Temp", "c:\\windows\\", false},
    {"C:\\APPS", "C:\\APPS\\WINDOWS", false},
    {"C:\\APPS\\VIEWER", "", false},
    {"C:\\WINDOWS.", "C:\\WINDOWS", false},
    {"C:\\WINDOWS ", "C:\\WINDOWS", false},
    {"C:\\WINDOW~1", "C:\\WINDOWS", false},
    {"C:\\APPS\\VIEWER~2", "C:\\WINDOWS", false},
    {"C:\\Program Files", "C:\\WINDOWS", false},
    {"c:\\program files (x86)", "C:\\WINDOWS", false},
    {"C:\\ProgramData", "C:\\WINDOWS", false},
    {"D:\\Users", "C:\\WINDOWS", false},
    {"C:\\Documents and Settings", "C:\\WINDOWS", false},
    {"C:\\APPS\\NUL", "C:\\WINDOWS", false},
    {"C:\\APPS\\con.txt", "C:\\WINDOWS", false},
    {"C:\\APPS\\LPT1", "C:\\WINDOWS", false},
    {"C:\\APPS\\COM9.log", "C:\\WINDOWS", false},
    {"C:\\APPS\\VIEW*", "C:\\WINDOWS", false},
    {"C:\\APPS\\VIEW?", "C:\\WINDOWS", false},
    {"C:\\APPS\\A|B", "C:\\WINDOWS", false},
    {"C:\\APPS\\<B>", "C:\\WINDOWS", false},
    {"C:\\APPS\\A:B", "C:\\WINDOWS", false},
    {"C:\\APPS/VIEWER", "C:\\WINDOWS", false},
    {"C:\\APPS\\A\x01", "C:\\WINDOWS", false},
};

TEST(IsSafeToEmpty, RefusesAllButAPlainLocalFolderApartFromWindows) {
    for (const SafetyCase &c : safety_cases)
        EXPECT_EQ(c.safe, is_safe_to_empty(c.dir, c.windows_dir))
            << "dir \"" << c.dir << "\", Windows directory \"" << c.windows_dir << "\"";
}

} // namespace

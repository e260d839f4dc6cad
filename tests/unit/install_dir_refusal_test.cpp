// An installation directory that is not safe to empty is refused by the run:
// nothing is entered, deleted or removed, and no directory message is logged.
// Every folder that such a value could reach exists and holds a file, so a
// run that did not refuse it would show in the calls and the deletions.
#include "run_fixture.h"

using namespace platform_double;
using namespace run_fixture;

namespace {

struct UnsafeCase {
    const char *name;
    const char *command; // The registered open command; the run cuts it at its last backslash.
    std::optional<std::string> windows_dir = "C:\\WINDOWS";
};

// Folders of the system, of other programs and of the product, each with a
// file inside, the current directory C:\APPS.
void populated_machine(const std::optional<std::string> &windows_dir) {
    for (const char *file : {"C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL", "C:\\WINDOWS\\win.ini",
                             "C:\\Program Files\\Other\\other.exe", "C:\\ProgramData\\o.dat",
                             "C:\\Users\\me\\letter.doc", "C:\\APPS\\VIEWER\\VIEW.EXE",
                             "C:\\APPS\\keep.txt", "C:\\keep.sys", "D:\\data.txt"})
        add_file(file);
    if (windows_dir && !windows_dir->empty())
        add_folder(*windows_dir);
    set_windows_directory(windows_dir);
    set_current_directory("C:\\APPS");
}

const UnsafeCase unsafe_cases[] = {
    {"Quoted", "\"C:\\APPS\\VIEWER\\VIEW.EXE\" \"%1\""},
    {"DriveRootByLetter", "C:\\VIEW.EXE %1"},
    {"DriveRootWithBackslash", "C:\\\\VIEW.EXE"},
    {"OtherDriveRoot", "D:\\VIEW.EXE"},
    {"DriveRelative", "C:VIEWER\\VIEW.EXE"},
    {"Relative", "VIEWER\\VIEW.EXE"},
    {"RootOfCurrentDrive", "\\APPS\\VIEWER\\VIEW.EXE"},
    {"Unc", "\\\\server\\share\\VIEWER\\VIEW.EXE"},
    {"ParentComponent", "C:\\APPS\\VIEWER\\..\\VIEW.EXE"},
    {"DotComponent", "C:\\APPS\\.\\VIEW.EXE"},
    {"EmptyComponent", "C:\\APPS\\\\VIEWER\\VIEW.EXE"},
    {"TrailingBackslash", "C:\\APPS\\VIEWER\\\\VIEW.EXE"},
    {"WindowsDirectory", "C:\\WINDOWS\\NOTEPAD.EXE"},
    {"WindowsDirectoryInOtherCase", "c:\\windows\\NOTEPAD.EXE"},
    {"InsideWindowsDirectory", "C:\\WINDOWS\\SYSTEM32\\VIEW.EXE"},
    {"WindowsDirectoryWithTrailingDot", "C:\\WINDOWS.\\NOTEPAD.EXE"},
    {"WindowsDirectoryWithTrailingSpace", "C:\\WINDOWS \\NOTEPAD.EXE"},
    {"WindowsDirectoryByShortName", "C:\\WINDOW~1\\NOTEPAD.EXE"},
    {"ParentOfWindowsDirectory", "C:\\APPS\\VIEWER\\VIEW.EXE", "C:\\APPS\\VIEWER\\WIN"},
    {"WindowsDirectoryReportedWithBackslash", "C:\\WINDOWS\\NOTEPAD.EXE", "C:\\WINDOWS\\"},
    {"NoWindowsDirectoryToCompare", "C:\\APPS\\VIEWER\\VIEW.EXE", std::nullopt},
    {"ProgramFiles", "C:\\Program Files\\VIEW.EXE"},
    {"ProgramFilesX86", "C:\\PROGRAM FILES (X86)\\VIEW.EXE"},
    {"ProgramData", "C:\\ProgramData\\VIEW.EXE"},
    {"Users", "C:\\users\\VIEW.EXE"},
    {"DocumentsAndSettings", "C:\\Documents and Settings\\VIEW.EXE"},
    {"DeviceName", "C:\\APPS\\NUL\\VIEW.EXE"},
    {"DeviceNameWithExtension", "C:\\APPS\\con.txt\\VIEW.EXE"},
    {"Wildcard", "C:\\APPS\\VIEW*\\VIEW.EXE"},
    {"QuestionMark", "C:\\APPS\\VIEWE?\\VIEW.EXE"},
    {"Pipe", "C:\\APPS\\VIEWER|X\\VIEW.EXE"},
    {"AngleBracket", "C:\\APPS\\<VIEWER>\\VIEW.EXE"},
    {"ColonInName", "C:\\APPS\\VIEWER:S\\VIEW.EXE"},
    {"ForwardSlash", "C:\\APPS/VIEWER\\VIEW.EXE"},
    {"ControlCharacter", "C:\\APPS\\VIE\tWER\\VIEW.EXE"},
};

void PrintTo(const UnsafeCase &c, std::ostream *out) {
    *out << c.name << " \"" << c.command << "\"";
}

class UnsafeInstallDirTest : public RunFixture, public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeInstallDirTest, IsNeitherEnteredNorLogged) {
    const UnsafeCase &c = GetParam();
    populated_machine(c.windows_dir);
    set_text_value("Zelvorant\\shell\\open\\command", c.command);
    std::vector<std::string> paths_before = all_paths();

    EXPECT_EQ(std::optional<int>(IDOK), run_win_main());

    EXPECT_EQ(
        std::vector<std::string>{},
        described(calls_of({Call::get_current_directory, Call::set_current_directory,
                            Call::remove_directory, Call::find_first_file, Call::delete_file})));
    EXPECT_EQ(paths_before, all_paths());
    std::string log = c.windows_dir.value_or("") + "\\ZELVORANT_UNINSTALL.LOG";
    EXPECT_EQ(std::optional<std::string>(progid_message), log_bytes(log));
    expect_final_box_once();
}

INSTANTIATE_TEST_SUITE_P(UninstallRun, UnsafeInstallDirTest, ::testing::ValuesIn(unsafe_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// The same machine with a safe directory: the one case that is entered shows
// that the refusals above are the vetting's doing, not the machine's.
TEST_F(RunFixture, SafeInstallDirBesideTheRefusedOnesIsRemoved) {
    populated_machine("C:\\WINDOWS");
    set_text_value("Zelvorant\\shell\\open\\command", "C:\\APPS\\VIEWER\\VIEW.EXE");

    EXPECT_EQ(std::optional<int>(IDOK), run_win_main());

    EXPECT_EQ((std::vector<std::string>{"C:\\APPS\\VIEWER\\VIEW.EXE", "C:\\APPS\\VIEWER"}),
              deleted_paths());
    EXPECT_EQ(progid_message + directory_message("C:\\APPS\\VIEWER"), log_bytes(log_path));
}

} // namespace

// FindFirstFileA and FindNextFileA over the machine's folders: every entry
// Windows would report, with the attribute bits the tree removal reads, and
// a search that survives the deletion of what it has reported.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "machine_fixture.h"

namespace {

const unsigned looked_at = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;

using Reported = std::set<std::pair<std::string, unsigned>>;

Reported reported(const char *pattern) {
    Reported entries;
    for (const FoundEntry &entry : find_all(pattern))
        EXPECT_TRUE(entries.emplace(entry.name, entry.attributes & looked_at).second)
            << entry.name << " reported twice";
    return entries;
}

class FindTest : public MachineTest {};

TEST_F(FindTest, ReportsEveryEntryWithItsKindAndReadOnlyBit) {
    write_file("drive_c/F/a.txt", "a");
    write_file("drive_c/F/.hidden", "h");
    write_file("drive_c/F/ro.txt", "r", 0444);
    make_dir("drive_c/F/SUB");
    make_dir("drive_c/F/.dotdir");
    make_dir("drive_c/F/locked", 0);
    write_file("../outside/target.txt", "t");
    ASSERT_EQ(symlink(outside("").c_str(), host("drive_c/F/dlink").c_str()), 0);
    ASSERT_EQ(symlink(outside("target.txt").c_str(), host("drive_c/F/flink").c_str()), 0);
    const Reported expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY},
        {"..", FILE_ATTRIBUTE_DIRECTORY},
        {"a.txt", 0},
        {".hidden", 0},
        {"ro.txt", FILE_ATTRIBUTE_READONLY},
        {"SUB", FILE_ATTRIBUTE_DIRECTORY},
        {".dotdir", FILE_ATTRIBUTE_DIRECTORY},
        {"locked", FILE_ATTRIBUTE_DIRECTORY},
        {"dlink", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
        {"flink", FILE_ATTRIBUTE_REPARSE_POINT},
    };
    in_fresh_process([&] {
        EXPECT_EQ(reported("C:\\F\\*.*"), expected) << "by full path";
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\F"));
        EXPECT_EQ(reported("*.*"), expected) << "in the current directory";
    });
}

TEST_F(FindTest, DotEntriesAreReportedEverywhereButAtADriveRoot) {
    write_file("drive_c/file.txt", "f");
    make_dir("drive_c/EMPTY");
    make_dir("drive_d");
    in_fresh_process([] {
        EXPECT_EQ(reported("*.*"), (Reported{{"WINDOWS", FILE_ATTRIBUTE_DIRECTORY},
                                             {"EMPTY", FILE_ATTRIBUTE_DIRECTORY},
                                             {"file.txt", 0}}));
        EXPECT_EQ(reported("C:\\EMPTY\\*.*"),
                  (Reported{{".", FILE_ATTRIBUTE_DIRECTORY}, {"..", FILE_ATTRIBUTE_DIRECTORY}}));
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FindFirstFileA("D:\\*.*", &data), INVALID_HANDLE_VALUE) << "an empty root has no entry";
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    });
}

TEST_F(FindTest, FolderThatCannotBeReadHasNoSearch) {
    write_file("drive_c/SECRET/inside.txt", "i");
    chmod(host("drive_c/SECRET").c_str(), 0311);
    in_fresh_process([] {
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FindFirstFileA("C:\\SECRET\\*.*", &data), INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\SECRET"));
        EXPECT_EQ(FindFirstFileA("*.*", &data), INVALID_HANDLE_VALUE);
    });
}

// A host name that no Windows volume can hold could not be reached by the
// name reported, or would reach another entry: it is left out.
TEST_F(FindTest, NamesWindowsCannotHoldAreNotReported) {
    for (const char *name : {"back\\slash", "star*", "ask?", "trail.", "trail ", "co:lon", "less<", "more>",
                             "pipe|", "quote\"", "tab\tname", "bell\x07"})
        write_file(std::string("drive_c/N/") + name, "x");
    write_file("drive_c/N/good name.txt", "g");
    in_fresh_process([] {
        EXPECT_EQ(reported("C:\\N\\*.*"), (Reported{{".", FILE_ATTRIBUTE_DIRECTORY},
                                                  {"..", FILE_ATTRIBUTE_DIRECTORY},
                                                  {"good name.txt", 0}}));
    });
}

// The tree removal deletes each entry as soon as it is reported; the search
// must still report every other entry once, however large the folder.
TEST_F(FindTest, DeletingReportedEntriesNeverDisturbsTheSearch) {
    const int files = 1200; // long names: several reads of the folder by the host
    std::set<std::string> expected = {".", ".."};
    make_dir("drive_c/BIG");
    for (int i = 0; i < files; ++i) {
        std::string name = "file" + std::to_string(i) + std::string(size_t(20 + i % 40), 'x');
        int fd = creat(host("drive_c/BIG/" + name).c_str(), 0644);
        ASSERT_GE(fd, 0) << name;
        close(fd);
        expected.insert(name);
    }
    in_fresh_process([&] {
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\BIG"));
        std::multiset<std::string> seen;
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA("*.*", &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        do {
            seen.insert(data.cFileName);
            if (data.cFileName[0] != '.') {
                EXPECT_TRUE(DeleteFileA(data.cFileName)) << data.cFileName;
            }
        } while (FindNextFileA(search, &data));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(search));
        EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
    });
    EXPECT_EQ(list_tree(host("drive_c/BIG")), std::vector<std::string>{});
}

TEST_F(FindTest, SearchHandleIsClosedOnceOnly) {
    write_file("drive_c/F/a.txt", "a");
    in_fresh_process([] {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA("C:\\F\\*.*", &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(FindClose(search));
        EXPECT_FALSE(FindClose(search));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(FindNextFileA(search, &data));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    });
}

} // namespace

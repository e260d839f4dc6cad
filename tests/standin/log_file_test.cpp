// log_file_open: the log's file by its Windows path, opened only when it is
// a plain file that may be written, never through a planted link.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <windows.h>

#include "machine_fixture.h"
#include "platform.h"

namespace {

const char log_windows_path[] = "C:\\WINDOWS\\ZELVORANT_UNINSTALL.LOG";
const char log_host_path[] = "drive_c/WINDOWS/ZELVORANT_UNINSTALL.LOG";

class LogFileTest : public MachineTest {};

// What a successful open writes: replaced when truncating, appended to
// otherwise, in binary so that CR LF stays as written.
TEST_F(LogFileTest, OpensAPlainLogToReplaceOrAppend) {
    const struct {
        const char *label;
        bool earlier_log;
        int truncate;
        const char *expected;
    } cases[] = {
        {"no log yet, replacing", false, 1, "new\r\n"},
        {"no log yet, appending", false, 0, "new\r\n"},
        {"earlier log, replacing", true, 1, "new\r\n"},
        {"earlier log, appending", true, 0, "old\r\nnew\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        unlink(host(log_host_path).c_str());
        if (c.earlier_log)
            write_file(log_host_path, "old\r\n");
        in_fresh_process([&] {
            FILE *log = log_file_open(log_windows_path, c.truncate);
            ASSERT_NE(log, nullptr);
            fputs("new\r\n", log);
            fclose(log);
        });
        EXPECT_EQ(read_file(log_host_path), c.expected);
    }
}

// Anything at the log's place but a writable plain file refuses the open and
// is left as it was: a link is never followed to what it names, and a FIFO
// would hang the run.
TEST_F(LogFileTest, RefusesWhatIsNotAWritablePlainFile) {
    write_file("../outside/victim.txt", "victim");
    const std::string victim = outside("victim.txt");
    const std::string log = host(log_host_path);
    const struct {
        const char *label;
        std::function<void()> plant;
    } cases[] = {
        {"read-only log", [&] { write_file(log_host_path, "old\r\n", 0444); }},
        {"link to a file outside", [&] { ASSERT_EQ(symlink(victim.c_str(), log.c_str()), 0); }},
        {"link to a file not yet made", [&] {
             ASSERT_EQ(symlink(outside("planted.txt").c_str(), log.c_str()), 0);
         }},
        {"FIFO", [&] { ASSERT_EQ(mkfifo(log.c_str(), 0644), 0); }},
        {"folder", [&] { make_dir(log_host_path); }},
        {"read-only Windows folder", [&] { chmod(host("drive_c/WINDOWS").c_str(), 0555); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        chmod(host("drive_c/WINDOWS").c_str(), 0755);
        std::filesystem::remove_all(log);
        c.plant();
        struct stat before;
        bool was_there = lstat(log.c_str(), &before) == 0;
        in_fresh_process([] {
            alarm(20); // a FIFO opened for writing would block for ever
            for (int truncate : {1, 0})
                EXPECT_EQ(log_file_open(log_windows_path, truncate), nullptr) << "truncate " << truncate;
        });
        struct stat after;
        EXPECT_EQ(lstat(log.c_str(), &after) == 0, was_there);
        if (was_there) {
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_size, before.st_size);
        }
        EXPECT_EQ(read_file("../outside/victim.txt"), "victim");
        EXPECT_FALSE(exists("../outside/planted.txt"));
    }
}

} // namespace

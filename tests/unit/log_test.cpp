// The log's bytes on disk, through the double's log file: where the log
// lives, how each message is stored, and when the file is replaced,
// extended or left alone.
#include <functional>

#include "log.h"
#include "run_fixture.h"

using namespace platform_double;

namespace {

const std::string log_name = "\\ZELVORANT_UNINSTALL.LOG";
const std::string windows_log = "C:\\WINDOWS" + log_name;
const std::string dir_254 = "C:\\" + std::string(251, 'D');
const std::string windows_231 = "C:\\" + std::string(228, 'W');

struct LogCase {
    const char *name;
    std::optional<std::string> windows_dir;
    std::optional<std::string> before; // The log an earlier run left.
    std::function<void()> messages;
    std::string path; // Where the log is expected.
    std::optional<std::string> after;
};

const LogCase log_cases[] = {
    {"FirstMessageReplacesLaterOnesAppendWithCrLf", "C:\\WINDOWS", "an earlier run\r\n",
     [] {
         log_printf("one\n");
         log_printf("two\n");
     },
     windows_log, "one\r\ntwo\r\n"},
    {"RunThatLogsNothingLeavesTheLogAlone", "C:\\WINDOWS", "an earlier run\r\n", [] {}, windows_log,
     "an earlier run\r\n"},
    {"RunThatLogsNothingCreatesNoLog", "C:\\WINDOWS", std::nullopt, [] {}, windows_log,
     std::nullopt},
    {"PercentSignsInAValueAreStoredUnchanged", "C:\\WINDOWS", std::nullopt,
     [] { log_printf("<%s> is removed\n", "C:\\%ProgramFiles%\\100%s"); }, windows_log,
     "<C:\\%ProgramFiles%\\100%s> is removed\r\n"},
    {"TextWithoutLineFeedContinuesTheLine", "C:\\WINDOWS", std::nullopt,
     [] {
         log_printf("no line end");
         log_printf(", same line\n");
     },
     windows_log, "no line end, same line\r\n"},
    {"CarriageReturnIsStoredAsAnyByte", "C:\\WINDOWS", std::nullopt, [] { log_printf("crlf\r\n"); },
     windows_log, "crlf\r\r\n"},
    {"EmptyFirstMessageLeavesAnEmptyLog", "C:\\WINDOWS", "an earlier run\r\n",
     [] { log_printf("%s", ""); }, windows_log, ""},
    {"LongestDirectoryMessageIsStoredWhole", "C:\\WINDOWS", std::nullopt,
     [] { log_printf("<%s> is removed\n", dir_254.c_str()); }, windows_log,
     "<" + dir_254 + "> is removed\r\n"},
    {"WindowsDirectoryOf231CharactersFillsThePath", windows_231, std::nullopt,
     [] { log_printf("x\n"); }, windows_231 + log_name, "x\r\n"},
    {"WindowsDirectoryWithTrailingBackslashKeepsBoth", "C:\\", std::nullopt,
     [] { log_printf("x\n"); }, "C:\\" + log_name, "x\r\n"},
    {"WindowsDirectoryTooLongLeavesTheNameAlone", windows_231 + "W", std::nullopt,
     [] { log_printf("x\n"); }, log_name, "x\r\n"},
    {"FailedWindowsDirectoryQueryLeavesTheNameAlone", std::nullopt, std::nullopt,
     [] { log_printf("x\n"); }, log_name, "x\r\n"},
};

void PrintTo(const LogCase &c, std::ostream *out) {
    *out << c.name;
}

using LogFileTest = PlatformDoubleTest;

class LogTest : public PlatformDoubleTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogTest, StoresTheseBytes) {
    const LogCase &c = GetParam();
    set_windows_directory(c.windows_dir);
    if (c.before)
        set_log_bytes(c.path, *c.before);

    run_in_child([&] {
        log_init();
        c.messages();
        return 0;
    });

    EXPECT_EQ(c.after, log_bytes(c.path));
    for (const Record &open : calls_of({Call::log_file_open}))
        EXPECT_EQ(c.path, open.text) << "the log is opened by its full path";
}

INSTANTIATE_TEST_SUITE_P(Log, LogTest, ::testing::ValuesIn(log_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Each message opens the file anew: only the run's first open empties it.
TEST_F(LogFileTest, OnlyTheFirstOpenOfARunEmptiesTheLog) {
    run_in_child([] {
        log_init();
        log_printf("a\n");
        log_printf("b\n");
        log_printf("c\n");
        return 0;
    });

    EXPECT_EQ((std::vector<std::string>{"log_file_open \"" + windows_log + "\" = 1 (truncate)",
                                        "log_file_open \"" + windows_log + "\" = 1 (append)",
                                        "log_file_open \"" + windows_log + "\" = 1 (append)"}),
              described(calls_of({Call::log_file_open})));
}

// A first open that fails still ends the run's first write: the next message
// is appended to what an earlier run left.
TEST_F(LogFileTest, FailedFirstOpenIsNotRetriedAsFirst) {
    set_log_bytes(windows_log, "earlier\r\n");
    fail_call(Call::log_file_open, 1);

    run_in_child([] {
        log_init();
        log_printf("lost\n");
        log_printf("kept\n");
        return 0;
    });

    ASSERT_EQ(1u, faults_fired());
    EXPECT_EQ(std::optional<std::string>("earlier\r\nkept\r\n"), log_bytes(windows_log));
}

// Nothing in the run depends on the log.
TEST_F(LogFileTest, RunGoesOnWhenTheLogCannotBeOpened) {
    set_text_value("Zelvorant\\shell\\open\\command", "C:\\APPS\\VIEWER\\VIEW.EXE");
    add_file("C:\\APPS\\VIEWER\\VIEW.EXE");
    fail_call(Call::log_file_open, 1, true);

    EXPECT_EQ(std::optional<int>(IDOK), run_fixture::run_win_main());

    EXPECT_EQ(2u, faults_fired()) << "the ProgID and the directory message were tried";
    EXPECT_FALSE(path_exists("C:\\APPS\\VIEWER"));
    EXPECT_EQ(std::nullopt, log_bytes(windows_log));
    EXPECT_EQ(1u, message_box_calls());
}

} // namespace

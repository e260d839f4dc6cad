// The uninstall run by the platform calls it makes, for each registry state
// it can meet: which keys are opened, queried and deleted through which
// handle, the order in which handles close, which directory is entered and
// removed, what is logged, and the final box.
#include "run_fixture.h"

using namespace platform_double;
using namespace run_fixture;

namespace {

struct RunCase {
    const char *name;
    // The registry and files before the run, on top of the default machine.
    void (*machine)();
    int box_result;
    std::vector<std::string> registry_calls;
    std::vector<std::string> directory_calls;
    std::optional<std::string> log;
};

const std::string viewer = "C:\\APPS\\VIEWER";

void no_registration() {
    add_folder(viewer);
}

void progid_alone() {
    add_key("Zelvorant");
}

void chain_without_command() {
    add_key("Zelvorant\\shell\\open");
}

void viewer_tree() {
    add_file(viewer + "\\VIEW.EXE");
    add_file("C:\\APPS\\keep.txt");
}

void full_registration() {
    add_key(".zvx");
    set_text_value("Zelvorant\\shell\\open\\command", viewer + "\\VIEW.EXE %1");
    add_key("MIME\\Database\\Content Type\\application/x-zelvorant");
    add_key("MIME\\Database\\Content Type\\text/plain");
    viewer_tree();
}

void quoted_command() {
    set_text_value("Zelvorant\\shell\\open\\command", "\"" + viewer + "\\VIEW.EXE\" \"%1\"");
    viewer_tree();
}

void command_without_value() {
    add_key("Zelvorant\\shell\\open\\command");
    viewer_tree();
}

void command_without_backslash() {
    set_text_value("Zelvorant\\shell\\open\\command", "VIEW.EXE %1");
    viewer_tree();
}

void mime_type_absent() {
    set_text_value("Zelvorant\\shell\\open\\command", viewer + "\\VIEW.EXE %1");
    add_key("MIME\\Database\\Content Type\\text/plain");
    viewer_tree();
}

void database_absent() {
    add_key("MIME");
}

void content_type_absent() {
    add_key("MIME\\Database");
}

void directory_gone() {
    set_text_value("Zelvorant\\shell\\open\\command", "C:\\GONE\\VIEW.EXE %1");
}

// A key of another program below "Zelvorant" keeps it from being deleted.
void progid_shared() {
    set_text_value("Zelvorant\\shell\\open\\command", viewer + "\\VIEW.EXE %1");
    add_key("Zelvorant\\DefaultIcon");
    viewer_tree();
}

// 300 characters: the query reports ERROR_MORE_DATA with the buffer filled,
// and a cut of what it holds would name C:\APPS\VIEWER\SUB or a parent.
void command_too_long() {
    set_text_value("Zelvorant\\shell\\open\\command",
                   viewer + "\\SUB\\" + std::string(300, 'X') + "\\VIEW.EXE");
    add_file(viewer + "\\SUB\\data.bin");
    viewer_tree();
}

void read_only_inside() {
    set_text_value("Zelvorant\\shell\\open\\command", viewer + "\\VIEW.EXE %1");
    add_file(viewer + "\\locked.dat", true);
    viewer_tree();
}

const std::vector<std::string> zvx_absent = {"RegDeleteKeyA HKEY_CLASSES_ROOT \".zvx\" = 2"};
const std::vector<std::string> zvx_deleted = {"RegDeleteKeyA HKEY_CLASSES_ROOT \".zvx\" = 0"};
const std::vector<std::string> progid_absent = {"RegOpenKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 2"};
const std::vector<std::string> mime_absent = {"RegOpenKeyA HKEY_CLASSES_ROOT \"MIME\" = 2"};

// The whole chain opened as key1..key4 and deleted deepest first, each key
// through the handle above it after its own handle closed; then `mime`.
std::vector<std::string> whole_chain(long query, long delete_progid,
                                     const std::string &mime_first) {
    return {
        "RegOpenKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 0 -> key1",
        "RegOpenKeyA key1 \"shell\" = 0 -> key2",
        "RegOpenKeyA key2 \"open\" = 0 -> key3",
        "RegOpenKeyA key3 \"command\" = 0 -> key4",
        "RegQueryValueExA key4 = " + std::to_string(query),
        "RegCloseKey key4 = 0",
        "RegDeleteKeyA key3 \"command\" = 0",
        "RegCloseKey key3 = 0",
        "RegDeleteKeyA key2 \"open\" = 0",
        "RegCloseKey key2 = 0",
        "RegDeleteKeyA key1 \"shell\" = 0",
        "RegCloseKey key1 = 0",
        "RegDeleteKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = " + std::to_string(delete_progid),
        mime_first,
    };
}

std::vector<std::string> mime_chain(long delete_type) {
    return {
        "RegOpenKeyA HKEY_CLASSES_ROOT \"MIME\" = 0 -> key5",
        "RegOpenKeyA key5 \"Database\" = 0 -> key6",
        "RegOpenKeyA key6 \"Content Type\" = 0 -> key7",
        "RegDeleteKeyA key7 \"application/x-zelvorant\" = " + std::to_string(delete_type),
        "RegCloseKey key7 = 0",
        "RegCloseKey key6 = 0",
        "RegCloseKey key5 = 0",
    };
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> without_last(std::vector<std::string> lines) {
    lines.pop_back();
    return lines;
}

// The run's own moves: save the current directory, enter the installation
// directory, come back, remove it.
std::vector<std::string> directory_steps(const std::string &dir, long removed) {
    return {
        "GetCurrentDirectoryA \"C:\\\" = 3",
        "SetCurrentDirectoryA \"" + dir + "\" = 1",
        "SetCurrentDirectoryA \"C:\\\" = 1",
        "RemoveDirectoryA \"" + dir + "\" = " + std::to_string(removed),
    };
}

const RunCase run_cases[] = {
    {"NothingRegisteredLogsNothing",
     no_registration,
     IDOK,
     zvx_absent + progid_absent + mime_absent,
     {},
     std::nullopt},
    {"NothingRegisteredAndNoBoxReturnsZero",
     no_registration,
     0,
     zvx_absent + progid_absent + mime_absent,
     {},
     std::nullopt},
    {"ProgIdWithoutShellIsDeletedAlone",
     progid_alone,
     IDOK,
     zvx_absent +
         std::vector<std::string>{
             "RegOpenKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 0 -> key1",
             "RegOpenKeyA key1 \"shell\" = 2",
             "RegCloseKey key1 = 0",
             "RegDeleteKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 0",
         } +
         mime_absent,
     {},
     progid_message},
    {"MissingCommandIsStillDeletedThroughOpen",
     chain_without_command,
     IDOK,
     zvx_absent +
         std::vector<std::string>{
             "RegOpenKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 0 -> key1",
             "RegOpenKeyA key1 \"shell\" = 0 -> key2",
             "RegOpenKeyA key2 \"open\" = 0 -> key3",
             "RegOpenKeyA key3 \"command\" = 2",
             "RegDeleteKeyA key3 \"command\" = 2",
             "RegCloseKey key3 = 0",
             "RegDeleteKeyA key2 \"open\" = 0",
             "RegCloseKey key2 = 0",
             "RegDeleteKeyA key1 \"shell\" = 0",
             "RegCloseKey key1 = 0",
             "RegDeleteKeyA HKEY_CLASSES_ROOT \"Zelvorant\" = 0",
         } +
         mime_absent,
     {},
     progid_message},
    {"FullRegistrationRemovesEverythingInOrder", full_registration, IDOK,
     zvx_deleted + without_last(whole_chain(0, 0, "")) + mime_chain(0),
     directory_steps(viewer, TRUE),
     extension_message + progid_message + mime_message + directory_message(viewer)},
    {"QuotedCommandIsRefused",
     quoted_command,
     IDOK,
     zvx_absent + whole_chain(0, 0, mime_absent[0]),
     {},
     progid_message},
    {"CommandWithoutValueLeavesNoDirectory",
     command_without_value,
     0,
     zvx_absent + whole_chain(2, 0, mime_absent[0]),
     {},
     progid_message},
    {"CommandWithoutBackslashLeavesNoDirectory",
     command_without_backslash,
     IDOK,
     zvx_absent + whole_chain(0, 0, mime_absent[0]),
     {},
     progid_message},
    {"AbsentExtensionAndMimeTypeAreNotLogged", mime_type_absent, IDOK,
     zvx_absent + without_last(whole_chain(0, 0, "")) + mime_chain(2),
     directory_steps(viewer, TRUE), progid_message + directory_message(viewer)},
    {"AbsentDatabaseClosesMime",
     database_absent,
     IDOK,
     zvx_absent + progid_absent +
         std::vector<std::string>{
             "RegOpenKeyA HKEY_CLASSES_ROOT \"MIME\" = 0 -> key1",
             "RegOpenKeyA key1 \"Database\" = 2",
             "RegCloseKey key1 = 0",
         },
     {},
     std::nullopt},
    {"AbsentContentTypeClosesDatabaseThenMime",
     content_type_absent,
     IDOK,
     zvx_absent + progid_absent +
         std::vector<std::string>{
             "RegOpenKeyA HKEY_CLASSES_ROOT \"MIME\" = 0 -> key1",
             "RegOpenKeyA key1 \"Database\" = 0 -> key2",
             "RegOpenKeyA key2 \"Content Type\" = 2",
             "RegCloseKey key2 = 0",
             "RegCloseKey key1 = 0",
         },
     {},
     std::nullopt},
    {"DirectoryThatIsGoneIsNotLogged",
     directory_gone,
     IDOK,
     zvx_absent + whole_chain(0, 0, mime_absent[0]),
     {"GetCurrentDirectoryA \"C:\\\" = 3", "SetCurrentDirectoryA \"C:\\GONE\" = 0"},
     progid_message},
    {"ProgIdThatStaysIsNotLogged", progid_shared, IDOK,
     zvx_absent + whole_chain(0, 5, mime_absent[0]), directory_steps(viewer, TRUE),
     directory_message(viewer)},
    {"QueryThatDoesNotFitLeavesNoDirectory",
     command_too_long,
     IDOK,
     zvx_absent + whole_chain(234, 0, mime_absent[0]),
     {},
     progid_message},
    {"DirectoryThatStaysIsNotLogged", read_only_inside, IDOK,
     zvx_absent + whole_chain(0, 0, mime_absent[0]), directory_steps(viewer, FALSE),
     progid_message},
};

void PrintTo(const RunCase &c, std::ostream *out) {
    *out << c.name;
}

class RunTest : public RunFixture, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunTest, MakesTheseCallsAndLogsThis) {
    const RunCase &c = GetParam();
    c.machine();
    set_message_box_result(c.box_result);

    std::optional<int> result = run_win_main();

    EXPECT_EQ(result, std::optional<int>(c.box_result)) << "WinMain returns the box's result";
    EXPECT_EQ(c.registry_calls, described(calls_of({Call::reg_open_key, Call::reg_query_value,
                                                    Call::reg_delete_key, Call::reg_close_key})));
    EXPECT_EQ(c.directory_calls,
              described(calls_of({Call::get_current_directory, Call::set_current_directory,
                                  Call::remove_directory})));
    EXPECT_EQ(c.log, log_bytes(log_path));
    expect_final_box_once();
}

INSTANTIATE_TEST_SUITE_P(UninstallRun, RunTest, ::testing::ValuesIn(run_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// The directory removal leaves everything outside the installation directory.
TEST_F(RunFixture, FullRunRemovesOnlyTheProductsKeysAndFiles) {
    full_registration();
    std::vector<std::string> keys_before = all_keys();

    run_win_main();

    EXPECT_EQ((std::vector<std::string>{"MIME", "MIME\\Database", "MIME\\Database\\Content Type",
                                        "MIME\\Database\\Content Type\\text/plain"}),
              all_keys());
    EXPECT_EQ((std::vector<std::string>{viewer + "\\VIEW.EXE", viewer}), deleted_paths());
    EXPECT_TRUE(path_exists("C:\\APPS\\keep.txt"));
    EXPECT_EQ("C:\\", current_directory());
}

} // namespace

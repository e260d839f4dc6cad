// Fault injection through the recording double: for each kind of platform
// call, fail its 1st, 2nd, ... use (once, or from then on) and run the whole
// uninstaller in a fresh child, until a run uses that call too few times for
// the fault to fire. After every run, whatever failed:
//  - the run ended (no crash; the sanitize build adds ASan and UBSan);
//  - the final box was shown exactly once, as the last call;
//  - every registry handle and search that was opened was closed exactly
//    once, and nothing was closed that was not open;
//  - no removal was logged that did not happen;
//  - nothing was deleted outside the installation directory, and no key but
//    the product's;
//  - WinMain's result is the box's result.
#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "platform_double.h"

using namespace platform_double;

namespace {

const std::string viewer = "C:\\APPS\\VIEWER";
const std::string log_path = "C:\\WINDOWS\\ZELVORANT_UNINSTALL.LOG";

const std::vector<std::string> product_keys = {
    ".zvx",
    "Zelvorant\\shell\\open\\command",
    "Zelvorant\\shell\\open",
    "Zelvorant\\shell",
    "Zelvorant",
    "MIME\\Database\\Content Type\\application/x-zelvorant",
};

// Messages and the removal each one reports.
struct LoggedRemoval {
    std::string message;
    bool (*happened)();
};

const LoggedRemoval logged_removals[] = {
    {"HKEY_CLASSES_ROOT\\\".zvx\" removed\r\n", [] { return !key_exists(".zvx"); }},
    {"HKEY_CLASSES_ROOT\\Zelvorant removed\r\n", [] { return !key_exists("Zelvorant"); }},
    {"HKEY_CLASSES_ROOT\\MIME\\Database\\\"Content Type\"\\application/x-zelvorant\" removed\r\n",
     [] { return !key_exists("MIME\\Database\\Content Type\\application/x-zelvorant"); }},
    {"<" + viewer + "> is removed\r\n", [] { return !path_exists(viewer); }},
};

// A full installation with a nested tree, a read-only file, a folder that
// cannot be entered and a link out of the tree, beside other programs' keys
// and files.
void install_machine() {
    add_key(".zvx");
    set_text_value("Zelvorant\\shell\\open\\command", viewer + "\\VIEW.EXE %1");
    add_key("MIME\\Database\\Content Type\\application/x-zelvorant");
    add_key("MIME\\Database\\Content Type\\text/plain");
    add_key(".txt");
    add_file(viewer + "\\VIEW.EXE");
    add_file(viewer + "\\readme.txt");
    add_file(viewer + "\\data\\scene.zvx");
    add_file(viewer + "\\data\\textures\\a.bmp");
    add_file(viewer + "\\data\\textures\\b.bmp");
    add_folder(viewer + "\\empty");
    add_file(viewer + "\\locked\\inside.txt");
    forbid_entering(viewer + "\\locked");
    add_file(viewer + "\\ro\\readonly.txt", true);
    add_file("C:\\APPS\\OTHER\\other.dll");
    add_folder_link(viewer + "\\data\\out", "C:\\APPS\\OTHER");
    add_file("C:\\APPS\\keep.txt");
    add_file("C:\\WINDOWS\\win.ini");
    set_log_bytes(log_path, "an earlier run's log\r\n");
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'a' && c <= 'z' ? c - 32 : c); });
    return text;
}

bool is_inside_viewer(const std::string &path) {
    std::string p = upper(path), v = upper(viewer);
    return p == v || p.compare(0, v.size() + 1, v + "\\") == 0;
}

bool is_open_call(Call call) {
    return call == Call::reg_open_key || call == Call::find_first_file;
}

bool is_close_call(Call call) {
    return call == Call::reg_close_key || call == Call::find_close;
}

// Each handle that a call handed out, against the closes that named it.
void expect_every_handle_closed_once() {
    std::map<uintptr_t, int> closes;
    for (const Record &record : calls())
        if (is_open_call(record.call) && record.opened != 0)
            closes[record.opened] += 0;
    for (const Record &record : calls()) {
        if (!is_close_call(record.call))
            continue;
        auto found = closes.find(record.handle);
        if (found == closes.end())
            ADD_FAILURE() << "closed a handle never opened: " << describe(record);
        else
            ++found->second;
    }
    for (const auto &handle : closes)
        EXPECT_EQ(1, handle.second) << "closes of handle " << handle.first;
}

void expect_box_once_and_returned(const std::optional<int> &result) {
    ASSERT_TRUE(result.has_value()) << "the run crashed";
    ASSERT_EQ(1u, message_box_calls()) << "final boxes shown";
    const Record &last = calls().back();
    ASSERT_EQ(Call::message_box, last.call) << "the last call: " << describe(last);
    EXPECT_EQ(last.result, *result) << "WinMain's result against the box's";
}

void expect_no_false_log_line() {
    std::string log = log_bytes(log_path).value_or("");
    for (const LoggedRemoval &removal : logged_removals) {
        if (log.find(removal.message) != std::string::npos) {
            EXPECT_TRUE(removal.happened()) << "logged, but not removed: " << removal.message;
        }
    }
}

void expect_nothing_outside_removed() {
    for (const std::string &path : deleted_paths())
        EXPECT_TRUE(is_inside_viewer(path)) << "deleted outside the installation: " << path;
    for (const std::string &key : deleted_keys()) {
        bool ours = false;
        for (const std::string &product : product_keys)
            ours = ours || upper(key) == upper("HKEY_CLASSES_ROOT\\" + product);
        EXPECT_TRUE(ours) << "deleted a key that is not the product's: " << key;
    }
    EXPECT_TRUE(path_exists("C:\\APPS\\OTHER\\other.dll"));
    EXPECT_TRUE(path_exists("C:\\APPS\\keep.txt"));
    EXPECT_TRUE(path_exists("C:\\WINDOWS\\win.ini"));
    EXPECT_TRUE(key_exists("MIME\\Database\\Content Type\\text/plain"));
    EXPECT_TRUE(key_exists(".txt"));
}

struct FaultCase {
    Call call;
    bool from_then_on;
};

void PrintTo(const FaultCase &fault, std::ostream *out) {
    *out << call_name(fault.call) << (fault.from_then_on ? " failing from the nth use on"
                                                         : " failing at the nth use");
}

std::string case_name(const testing::TestParamInfo<FaultCase> &info) {
    return std::string(call_name(info.param.call)) + (info.param.from_then_on ? "_FromThenOn" : "_Once");
}

// Totals over every case of this process, printed when the suite ends.
unsigned total_runs = 0, total_faults = 0;

class FaultInjection : public PlatformDoubleTest, public testing::WithParamInterface<FaultCase> {
  protected:
    static void TearDownTestSuite() {
        printf("fault injection: %u runs, %u faults fired\n", total_runs, total_faults);
    }
};

// A run with none of its calls failed must be sound too, and is the count
// that bounds the loop below.
TEST_P(FaultInjection, EveryUseFailedInTurnLeavesTheRunSound) {
    const FaultCase fault = GetParam();
    unsigned fired_in_case = 0;
    for (unsigned nth = 1;; ++nth) {
        reset();
        install_machine();
        fail_call(fault.call, nth, fault.from_then_on);
        std::optional<int> result;
        {
            SCOPED_TRACE(std::string(call_name(fault.call)) + " failing at use " +
                         std::to_string(nth) + (fault.from_then_on ? " and after" : ""));
            result = run_in_child([] {
                char command_line[] = "";
                return WinMain(nullptr, nullptr, command_line, 1);
            });
            expect_box_once_and_returned(result);
            expect_every_handle_closed_once();
            expect_no_false_log_line();
            expect_nothing_outside_removed();
            for (const std::string &misuse : program_faults())
                ADD_FAILURE() << "misused the platform: " << misuse;
        }
        clear_program_faults();
        ++total_runs;
        unsigned fired = faults_fired();
        total_faults += fired;
        fired_in_case += fired;
        if (fired == 0 || HasFatalFailure() || nth > 500)
            break;
    }
    // GetLastError is there for tests alone: the program never calls it.
    if (fault.call != Call::get_last_error) {
        EXPECT_GT(fired_in_case, 0u) << "the program never used " << call_name(fault.call);
    }
}

std::vector<FaultCase> all_cases() {
    std::vector<FaultCase> cases;
    for (Call call : all_calls)
        for (bool from_then_on : {false, true})
            cases.push_back({call, from_then_on});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EachCall, FaultInjection, testing::ValuesIn(all_cases()), case_name);

} // namespace

// A recording double of the Windows platform, linked in place of the POSIX
// stand-in: an in-memory machine (registry keys below HKEY_CLASSES_ROOT,
// drives with folders, files and links to folders, a current directory, a
// Windows directory) behind the same C signatures the program calls, that
// writes down every call in order and every misuse of a handle.
//
// Link a test with `uninst_program platform_double GTest::gtest_main` and
// derive its fixture from PlatformDoubleTest, which installs a fresh machine
// and an empty table of calls in SetUp and resets both in TearDown.
//
// The program keeps state in globals for the whole process (the log's path
// and first-write flag, the installation and saved directories, the tree
// removal's lost-way flag), so a run that must start as a fresh process goes
// through run_in_child: the child inherits the machine, runs the code, and
// hands the calls, the faults and the machine afterwards back to the parent.
#ifndef UNINST_TESTS_PLATFORM_DOUBLE_H
#define UNINST_TESTS_PLATFORM_DOUBLE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace platform_double {

// Every platform function the program can call, the log's opener included.
enum class Call {
    reg_open_key,
    reg_query_value,
    reg_delete_key,
    reg_close_key,
    get_windows_directory,
    get_current_directory,
    set_current_directory,
    remove_directory,
    find_first_file,
    find_next_file,
    find_close,
    delete_file,
    message_box,
    get_last_error,
    log_file_open,
};
constexpr int call_kinds = 15;
extern const Call all_calls[call_kinds];

// The Windows name of the call ("RegOpenKeyA", ..., "log_file_open").
const char *call_name(Call call);

// One call as the platform saw it.
struct Record {
    Call call = Call::reg_open_key;
    // The call's text argument: sub key, path, search pattern, message text;
    // for FindFirstFileA/FindNextFileA the name of the entry reported.
    std::string text = {};
    // MessageBoxA: the caption. FindFirstFileA, FindNextFileA: the name of
    // the entry reported. log_file_open: "truncate" or "append".
    std::string second_text = {};
    uintptr_t handle = 0;  // The key or search handed in, 0 when none.
    uintptr_t opened = 0;  // The key or search handed out, 0 when none.
    long result = 0;       // The return value, as a number (TRUE = 1, a handle = 1).
    unsigned type = 0;     // MessageBoxA's type.
    bool injected = false; // The call failed because a test asked for it.
};

// A record as one line, handles named by the order of their opening:
//   RegOpenKeyA HKEY_CLASSES_ROOT "Zelvorant" = 0 -> key1
//   RegDeleteKeyA key3 "command" = 2
//   SetCurrentDirectoryA "C:\APPS\VIEWER" = 1
std::string describe(const Record &record);

// --- The machine, set up before a run and read after it --------------------

// Registry keys are named below HKEY_CLASSES_ROOT, one level per backslash
// ("Zelvorant\\shell\\open\\command"); missing parents are created. Names
// match case-insensitively.
void add_key(const std::string &path);
// The key's default value as a REG_SZ text: the text and its terminator.
void set_text_value(const std::string &path, const std::string &text);
// The key's default value as stored bytes, a terminator only if given.
void set_raw_value(const std::string &path, const std::string &bytes);
bool key_exists(const std::string &path);
// Every key below HKEY_CLASSES_ROOT, parents first, as set up or left.
std::vector<std::string> all_keys();
// Keys deleted, as "HKEY_CLASSES_ROOT\\..." in the order of deletion.
std::vector<std::string> deleted_keys();

// Files and folders by full Windows path ("C:\\APPS\\VIEWER\\VIEW.EXE");
// drives are created by their first path. A search reports a folder's
// entries in the order they were added.
void add_folder(const std::string &path);
void add_file(const std::string &path, bool read_only = false);
// A link to a folder, reported with the directory and reparse-point bits;
// entering it lands in its target, which need not exist.
void add_folder_link(const std::string &path, const std::string &target);
// A folder that SetCurrentDirectoryA refuses (access denied).
void forbid_entering(const std::string &path);
// A folder over which FindFirstFileA fails (access denied).
void forbid_listing(const std::string &path);
bool path_exists(const std::string &path);
// Every path on every drive, parents first, as set up or left.
std::vector<std::string> all_paths();
// Files, folders and links removed, by their real full path (a file reached
// through a link is named where it lies), in the order of removal.
std::vector<std::string> deleted_paths();

void set_current_directory(const std::string &path);
std::string current_directory();

// What GetWindowsDirectoryA reports; std::nullopt makes the query fail
// (0, buffer untouched). "C:\\WINDOWS" by default, a folder that exists.
void set_windows_directory(std::optional<std::string> path);

// What MessageBoxA returns: IDOK (1) by default, 0 for a box that cannot be
// shown.
void set_message_box_result(int result);

// Whether a default value that does not fit makes RegQueryValueExA fill the
// buffer with as much of it as fits (true by default: Windows may), besides
// returning ERROR_MORE_DATA.
void set_query_fills_buffer_on_more_data(bool fills);

// --- The log, on the host's disk ------------------------------------------

// log_file_open writes to a host file kept for each Windows path (letter
// case aside) in a temporary folder of the test.
std::optional<std::string> log_bytes(const std::string &windows_path);
void set_log_bytes(const std::string &windows_path, const std::string &bytes);

// --- Fault injection ---------------------------------------------------------

// Makes the nth use (counted from 1 in this test) of `call` fail, and with
// `from_then_on` every later use too. A failed call changes nothing and
// returns the call's failure: RegOpenKeyA, RegDeleteKeyA ERROR_ACCESS_DENIED;
// RegQueryValueExA ERROR_MORE_DATA with the buffer filled as far as it goes;
// RegCloseKey and FindClose fail but still release the handle; the others
// 0, FALSE, INVALID_HANDLE_VALUE or null.
void fail_call(Call call, unsigned nth, bool from_then_on = false);
// How many injected failures fired.
unsigned faults_fired();
// How many times `call` was used.
unsigned uses_of(Call call);

// --- What the run did ----------------------------------------------------------

const std::vector<Record> &calls();
std::vector<Record> calls_of(std::initializer_list<Call> kinds);
std::vector<std::string> described(const std::vector<Record> &records);
unsigned message_box_calls();

// Misuses that are the program's fault: a handle closed twice, used after
// its close or never opened, a predefined key closed, a key or search still
// open when the run ended (checked by end_of_run).
const std::vector<std::string> &program_faults();
void clear_program_faults();
// Records every registry handle and search still open as a program fault.
void end_of_run();

// Runs `body` in a child process that starts from this machine and these
// records, then takes back what the child left: calls, faults, deleted
// lists, use counts and the machine. Returns body's result; a child that
// crashes or cannot hand its state back is a test failure and std::nullopt.
std::optional<int> run_in_child(const std::function<int()> &body);

// Back to a fresh machine with no records and an empty log folder.
void reset();

} // namespace platform_double

// The fixture for tests that go through the double: a fresh machine in SetUp;
// in TearDown a test that recorded no call fails (unless it said it expects
// none), and so does one whose program misused a handle.
class PlatformDoubleTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // For a test in which the program rightly makes no platform call.
    void expect_no_calls() { expects_calls_ = false; }

  private:
    bool expects_calls_ = true;
};

#endif

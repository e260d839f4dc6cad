// What the tests of the whole run share: the run in a fresh child process,
// the log's texts and the one final box.
#ifndef UNINST_TESTS_RUN_FIXTURE_H
#define UNINST_TESTS_RUN_FIXTURE_H

#include "platform_double.h"

namespace run_fixture {

const std::string log_path = "C:\\WINDOWS\\ZELVORANT_UNINSTALL.LOG";
const std::string extension_message = "HKEY_CLASSES_ROOT\\\".zvx\" removed\r\n";
const std::string progid_message = "HKEY_CLASSES_ROOT\\Zelvorant removed\r\n";
const std::string mime_message =
    "HKEY_CLASSES_ROOT\\MIME\\Database\\\"Content Type\"\\application/x-zelvorant\" removed\r\n";

inline std::string directory_message(const std::string &dir) {
    return "<" + dir + "> is removed\r\n";
}

// WinMain in a child, so that every run starts with the program's globals
// as a new process has them.
inline std::optional<int> run_win_main() {
    return platform_double::run_in_child([] {
        char command_line[] = "";
        return WinMain(nullptr, nullptr, command_line, 1);
    });
}

class RunFixture : public PlatformDoubleTest {
  protected:
    // The box comes once, last, with the notice, the caption and one OK
    // button.
    void expect_final_box_once() {
        using namespace platform_double;
        ASSERT_EQ(1u, message_box_calls());
        const Record &last = calls().back();
        EXPECT_EQ(Call::message_box, last.call) << "the box is the run's last call";
        EXPECT_EQ("The 3D presentations viewer has been removed from this computer\n", last.text);
        EXPECT_EQ("Zelvorant Uninstall", last.second_text);
        EXPECT_EQ(MB_OK, last.type);
    }
};

} // namespace run_fixture

#endif

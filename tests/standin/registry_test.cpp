// The ADVAPI32 contracts that the uninstaller relies on, as Windows keeps
// them: names in any case, opens that never create, deletes that refuse a
// key with subkeys, the query's buffer rules and the handle rules.
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <windows.h>

#include "machine_fixture.h"
#include "registry_support.h"

using namespace std::string_literals;

namespace {

const char sample_registry[] = "REGEDIT4\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\Zelvorant]\r\n@=\"Viewer\"\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open\\command]\r\n"
                               "@=\"C:\\\\APPS\\\\VIEWER\\\\VIEW.EXE %1\"\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\NamedOnly]\r\n\"Count\"=dword:00000007\r\n";

const std::string command_text = "C:\\APPS\\VIEWER\\VIEW.EXE %1\0"s;

class RegistryTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        write_file("registry.reg", sample_registry);
    }
};

TEST_F(RegistryTest, KeyAndValueNamesMatchInAnyCase) {
    in_fresh_process([] {
        for (const char *spelling : {"Zelvorant\\shell\\open\\command", "zelvorant\\SHELL\\Open\\COMMAND",
                                     "ZELVORANT\\shell\\OPEN\\command"}) {
            QueriedValue got = query_value(HKEY_CLASSES_ROOT, spelling, nullptr);
            EXPECT_EQ(got.result, ERROR_SUCCESS) << spelling;
            EXPECT_EQ(got.data, command_text) << spelling;
        }
        EXPECT_EQ(query_value(HKEY_CLASSES_ROOT, "namedonly", "COUNT").data, "\x07\0\0\0"s);
        HKEY open;
        ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open", &open), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyA(open, "Command"), ERROR_SUCCESS);
        RegCloseKey(open);
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open\\command"), ERROR_FILE_NOT_FOUND);
    });
}

TEST_F(RegistryTest, OpeningAMissingKeyNeverCreatesIt) {
    in_fresh_process([this] {
        for (const char *missing : {"Missing", "Zelvorant\\Missing", "Zelvorant\\shell\\open\\command\\x"}) {
            EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, missing), ERROR_FILE_NOT_FOUND) << missing;
            EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, missing), ERROR_FILE_NOT_FOUND) << missing << ", again";
        }
        EXPECT_EQ(read_file("registry.reg"), sample_registry);
    });
}

TEST_F(RegistryTest, DeleteRefusesAKeyWithSubkeysAndReportsAnAbsentOne) {
    const struct {
        const char *key;
        LONG expected;
        LONG open_after;
    } cases[] = {
        {"Zelvorant", ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {"Zelvorant\\shell", ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {"Absent", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {"Zelvorant\\Absent", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {"NamedOnly", ERROR_SUCCESS, ERROR_FILE_NOT_FOUND},
    };
    in_fresh_process([&] {
        for (const auto &c : cases) {
            EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, c.key), c.expected) << c.key;
            EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, c.key), c.open_after) << c.key << " afterwards";
        }
        EXPECT_EQ(query_value(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open\\command", nullptr).data,
                  command_text);
    });
}

// A value that does not fit must leave the buffer as it was: on Windows
// the uninstaller would otherwise cut a part of the text and take a parent
// of the installation folder for the folder itself.
TEST_F(RegistryTest, DefaultValueQueryHonoursTheBufferSize) {
    const DWORD needed = DWORD(command_text.size());
    const struct {
        const char *key;
        DWORD capacity;
        LONG expected;
        DWORD size_after;
        bool filled;
    } cases[] = {
        {"Zelvorant\\shell\\open\\command", needed - 1, ERROR_MORE_DATA, needed, false},
        {"Zelvorant\\shell\\open\\command", 1, ERROR_MORE_DATA, needed, false},
        {"Zelvorant\\shell\\open\\command", 0, ERROR_MORE_DATA, needed, false},
        {"Zelvorant\\shell\\open\\command", needed, ERROR_SUCCESS, needed, true},
        {"Zelvorant\\shell\\open\\command", 255, ERROR_SUCCESS, needed, true},
        {"NamedOnly", 255, ERROR_FILE_NOT_FOUND, 255, false},
    };
    in_fresh_process([&] {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.key) + ", capacity " + std::to_string(c.capacity));
            HKEY key;
            ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, c.key, &key), ERROR_SUCCESS);
            char buffer[256];
            memset(buffer, 0x5a, sizeof buffer);
            DWORD size = c.capacity;
            DWORD type = REG_NONE;
            EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size),
                      c.expected);
            if (c.expected != ERROR_FILE_NOT_FOUND) {
                EXPECT_EQ(size, c.size_after);
            }
            std::string expected_buffer = c.filled ? command_text : ""s;
            expected_buffer.resize(sizeof buffer, '\x5a');
            EXPECT_EQ(std::string(buffer, sizeof buffer), expected_buffer);
            RegCloseKey(key);
        }
    });
}

TEST_F(RegistryTest, HandlesClosedTwiceOrNeverOpenedAreRefused) {
    in_fresh_process([] {
        HKEY key;
        ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "Zelvorant", &key), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        HKEY never = reinterpret_cast<HKEY>(uintptr_t(0x7654));
        for (HKEY refused : {key, never}) {
            HKEY unused;
            DWORD size = 8;
            BYTE data[8];
            EXPECT_EQ(RegCloseKey(refused), ERROR_INVALID_HANDLE);
            EXPECT_EQ(RegOpenKeyA(refused, "shell", &unused), ERROR_INVALID_HANDLE);
            EXPECT_EQ(RegQueryValueExA(refused, nullptr, nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
            EXPECT_EQ(RegDeleteKeyA(refused, "shell"), ERROR_INVALID_HANDLE);
        }
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "Zelvorant\\shell"), ERROR_SUCCESS);
    });
}

// A handle outlives its key when the key is deleted through another handle
// or by another process: every use but the close then reports 1018.
TEST_F(RegistryTest, HandleToADeletedKeyReportsKeyDeleted) {
    const struct {
        const char *label;
        bool by_other_process;
    } cases[] = {{"deleted through another handle", false}, {"deleted by another process", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        write_file("registry.reg", sample_registry);
        in_fresh_process([&] {
            HKEY command;
            ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open\\command", &command),
                      ERROR_SUCCESS);
            if (c.by_other_process) {
                pid_t other = fork();
                if (other == 0)
                    _exit(int(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open\\command")));
                int status = 0;
                ASSERT_EQ(waitpid(other, &status, 0), other);
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            } else {
                ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Zelvorant\\shell\\open\\command"), ERROR_SUCCESS);
            }
            BYTE data[64];
            DWORD size = sizeof data;
            HKEY unused;
            EXPECT_EQ(RegQueryValueExA(command, nullptr, nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
            EXPECT_EQ(RegOpenKeyA(command, "below", &unused), ERROR_KEY_DELETED);
            EXPECT_EQ(RegCloseKey(command), ERROR_SUCCESS);
        });
    }
}

} // namespace

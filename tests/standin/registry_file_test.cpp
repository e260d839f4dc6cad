// registry.reg as the stand-in reads and rewrites it: both regedit headers,
// every value form, rewrites that keep every other byte, implicit parent
// keys, files it cannot parse, atomic replacement and runs at once.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "machine_fixture.h"
#include "registry_support.h"

using namespace std::string_literals;

namespace {

struct FileForm {
    const char *label;
    bool version5;
    const char *newline;
};

const FileForm file_forms[] = {
    {"REGEDIT4, CR LF", false, "\r\n"},
    {"REGEDIT4, LF", false, "\n"},
    {"version 5.00, CR LF", true, "\r\n"},
    {"version 5.00, LF", true, "\n"},
};

// One value of the key HKEY_CLASSES_ROOT\Keep, as each header writes it
// ("\n" stands for the file's line ending), and what the ANSI query returns.
struct ValueCase {
    const char *name; // null for the default value
    const char *regedit4;
    const char *version5;
    DWORD type;
    std::string data;
};

const ValueCase value_cases[] = {
    {nullptr, R"(@="C:\\APPS\\VIEWER\\VIEW.EXE \"%1\"")", nullptr, REG_SZ,
     "C:\\APPS\\VIEWER\\VIEW.EXE \"%1\""s + '\0'},
    {"Empty", R"("Empty"="")", nullptr, REG_SZ, "\0"s},
    {"Lone Backslash", R"("Lone Backslash"="a\b")", nullptr, REG_SZ, "a\\b\0"s},
    {"Quote\"Name", R"("Quote\"Name"="q")", nullptr, REG_SZ, "q\0"s},
    {"Count", R"("Count"=dword:0000002a)", nullptr, REG_DWORD, "\x2a\0\0\0"s},
    {"Max", R"("Max"=dword:FFFFFFFF)", nullptr, REG_DWORD, "\xff\xff\xff\xff"s},
    {"Blob", R"("Blob"=hex:de,AD,be,ef)", nullptr, REG_BINARY, "\xde\xad\xbe\xef"s},
    {"NoBytes", R"("NoBytes"=hex:)", nullptr, REG_BINARY, ""s},
    {"Expand", R"("Expand"=hex(2):25,41,25,00)",
     R"("Expand"=hex(2):25,00,41,00,25,00,00,00)", REG_EXPAND_SZ, "%A%\0"s},
    {"Multi", "\"Multi\"=hex(7):61,00,\\\n  62,00,\\\n  00",
     "\"Multi\"=hex(7):61,00,00,00,\\\n  62,00,00,00,\\\n  00,00", REG_MULTI_SZ, "a\0b\0\0"s},
    {"Typed", R"("Typed"=hex(4):01,02,03,04)", nullptr, REG_DWORD, "\x01\x02\x03\x04"s},
};

std::string with_newline(const std::string &text, const char *newline) {
    std::string result;
    for (char c : text)
        result += c == '\n' ? std::string(newline) : std::string(1, c);
    return result;
}

// The file as sections, so that a test can say which bytes must remain.
struct RegistryText {
    std::string preamble;
    std::vector<std::string> sections;

    std::string joined(size_t skipped = size_t(-1)) const {
        std::string text = preamble;
        for (size_t i = 0; i < sections.size(); ++i)
            if (i != skipped)
                text += sections[i];
        return text;
    }
};

RegistryText sample_registry(const FileForm &form) {
    std::string keep = "[HKEY_CLASSES_ROOT\\Keep]\n; kept as written\n";
    for (const ValueCase &value : value_cases)
        keep += std::string(form.version5 && value.version5 ? value.version5 : value.regedit4) + "\n";
    RegistryText text;
    text.preamble = with_newline(form.version5 ? "Windows Registry Editor Version 5.00\n\n"
                                               : "REGEDIT4\n\n", form.newline);
    for (std::string section : {"[HKEY_CLASSES_ROOT\\.zvx]\n@=\"Zelvorant\"\n\n"s, keep + "\n",
                                "[HKEY_CLASSES_ROOT\\Keep\\Sub]\n\"Leaf\"=\"1\"\n\n"s,
                                "[HKEY_CURRENT_USER\\Other]\n\"A\"=dword:00000001\n"s})
        text.sections.push_back(with_newline(section, form.newline));
    return text;
}

void expect_keep_values_intact() {
    for (const ValueCase &value : value_cases) {
        SCOPED_TRACE(value.name == nullptr ? "default value" : value.name);
        QueriedValue got = query_value(HKEY_CLASSES_ROOT, "Keep", value.name);
        ASSERT_EQ(got.result, ERROR_SUCCESS);
        EXPECT_EQ(got.type, value.type);
        EXPECT_EQ(hex_bytes(got.data), hex_bytes(value.data));
    }
}

std::vector<std::string> machine_entries(const std::string &machine) {
    std::vector<std::string> names;
    DIR *dir = opendir(machine.c_str());
    while (struct dirent *entry = dir ? readdir(dir) : nullptr)
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    if (dir != nullptr)
        closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<std::string> clean_machine = {"drive_c", "registry.reg"};

class RegistryFileTest : public MachineTest {};

TEST_F(RegistryFileTest, EveryValueFormReadsBackWithItsTypeAndData) {
    for (const FileForm &form : file_forms) {
        SCOPED_TRACE(form.label);
        write_file("registry.reg", sample_registry(form).joined());
        in_fresh_process(expect_keep_values_intact);
    }
}

// The deleted key's section goes, every other byte stays, and a fresh
// process reads every remaining value back as it was.
TEST_F(RegistryFileTest, DeletingAKeyRemovesOnlyItsSection) {
    struct Doomed {
        size_t section;
        HKEY root;
        const char *key;
    };
    const Doomed doomed_keys[] = {
        {0, HKEY_CLASSES_ROOT, ".zvx"},
        {2, HKEY_CLASSES_ROOT, "Keep\\Sub"},
        {3, HKEY_CURRENT_USER, "Other"},
    };
    for (const FileForm &form : file_forms)
        for (const Doomed &doomed : doomed_keys) {
            SCOPED_TRACE(std::string(form.label) + ", deleting " + doomed.key);
            RegistryText text = sample_registry(form);
            write_file("registry.reg", text.joined());
            in_fresh_process([&] { EXPECT_EQ(RegDeleteKeyA(doomed.root, doomed.key), ERROR_SUCCESS); });
            EXPECT_EQ(read_file("registry.reg"), text.joined(doomed.section));
            in_fresh_process([&] {
                EXPECT_EQ(open_result(doomed.root, doomed.key), ERROR_FILE_NOT_FOUND);
                expect_keep_values_intact();
            });
        }
}

// A key known only as part of its child's section name must not vanish
// with that child: Windows keeps the parent key.
TEST_F(RegistryFileTest, ImplicitParentKeysSurviveTheirOnlyChild) {
    write_file("registry.reg", "REGEDIT4\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-zelvorant]\r\n"
                               "\"Extension\"=\".zvx\"\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\Other]\r\n@=\"x\"\r\n");
    in_fresh_process([] {
        HKEY content_type;
        ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type", &content_type),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyA(content_type, "application/x-zelvorant"), ERROR_SUCCESS);
        RegCloseKey(content_type);
    });
    in_fresh_process([] {
        for (const char *parent : {"MIME", "MIME\\Database", "MIME\\Database\\Content Type"})
            EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, parent), ERROR_SUCCESS) << parent;
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type\\application/x-zelvorant"),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(query_value(HKEY_CLASSES_ROOT, "Other", nullptr).data, "x\0"s);
        // The parent that now stands alone can itself be deleted like any key.
        EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type"), ERROR_SUCCESS);
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "MIME\\Database"), ERROR_SUCCESS);
    });
}

// A registry the stand-in cannot read must not be "repaired" by rewriting
// it from what little it understood: it stays byte for byte.
TEST_F(RegistryFileTest, FileThatCannotBeParsedIsNeverRewrittenAndBehavesEmpty) {
    const std::string zvx = "[HKEY_CLASSES_ROOT\\.zvx]\r\n@=\"Zelvorant\"\r\n";
    const struct {
        const char *fault;
        std::string text;
    } broken[] = {
        {"empty file", ""},
        {"no header", zvx},
        {"unknown header", "REGEDIT5\r\n\r\n" + zvx},
        {"stray line", "REGEDIT4\r\n\r\n" + zvx + "garbage\r\n"},
        {"value before any section", "REGEDIT4\r\n\"A\"=\"b\"\r\n" + zvx},
        {"dword with no digits", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=dword:\r\n"},
        {"dword of nine digits", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=dword:123456789\r\n"},
        {"dword not hex", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=dword:xyz\r\n"},
        {"unterminated string", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=\"open\r\n"},
        {"odd hex digit", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=hex:0\r\n"},
        {"continuation at the end", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=hex:01,\\\r\n"},
        {"unknown value form", "REGEDIT4\r\n\r\n" + zvx + "\"A\"=str:\"x\"\r\n"},
        {"unclosed section", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.zvx\r\n@=\"Zelvorant\"\r\n"},
        {"deletion section", "REGEDIT4\r\n\r\n" + zvx + "[-HKEY_CLASSES_ROOT\\Old]\r\n"},
        {"empty key name", "REGEDIT4\r\n\r\n" + zvx + "[HKEY_CLASSES_ROOT\\\\Old]\r\n"},
    };
    for (const auto &file : broken) {
        SCOPED_TRACE(file.fault);
        write_file("registry.reg", file.text);
        struct stat before;
        ASSERT_EQ(stat(host("registry.reg").c_str(), &before), 0);
        in_fresh_process([] {
            EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, ".zvx"), ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zvx"), ERROR_FILE_NOT_FOUND);
        });
        struct stat after;
        ASSERT_EQ(stat(host("registry.reg").c_str(), &after), 0);
        EXPECT_EQ(read_file("registry.reg"), file.text);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        EXPECT_EQ(machine_entries(host("")), clean_machine);
    }
}

// The change must be on disk, by a rename of a complete file, before the
// call returns: a crash right after it loses nothing and finds no half file.
TEST_F(RegistryFileTest, ChangeIsOnDiskByRenameWhenTheCallReturns) {
    RegistryText text = sample_registry(file_forms[0]);
    write_file("registry.reg", text.joined(), 0640);
    struct stat before;
    ASSERT_EQ(stat(host("registry.reg").c_str(), &before), 0);
    in_fresh_process([&] {
        ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zvx"), ERROR_SUCCESS);
        EXPECT_EQ(read_file("registry.reg"), text.joined(0));
        struct stat after;
        ASSERT_EQ(stat(host("registry.reg").c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "rewritten in place, not replaced";
        EXPECT_EQ(after.st_mode & 07777, 0640u) << "the file's permissions changed";
        EXPECT_EQ(machine_entries(host("")), clean_machine);
        _exit(::testing::Test::HasFailure() ? 1 : 0); // a crash: no clean-up of any kind
    });
}

// Runs on one machine at once: each deletes its own key; none may write
// back a registry read before another's change.
TEST_F(RegistryFileTest, ProcessesDeletingDifferentKeysAtOnceLoseNothing) {
    const int runs = 40;
    RegistryText text;
    text.preamble = "REGEDIT4\r\n\r\n";
    text.sections.push_back("[HKEY_CLASSES_ROOT\\Keep]\r\n\"Count\"=dword:0000002a\r\n\r\n");
    for (int i = 0; i < runs; ++i)
        text.sections.push_back("[HKEY_CLASSES_ROOT\\Run" + std::to_string(i) + "]\r\n@=\"" +
                                std::string(size_t(i) * 7, 'x') + "\"\r\n\r\n");
    write_file("registry.reg", text.joined());
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < runs; ++i) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) != 0)
                _exit(100);
            setenv("UNINST_MACHINE", host("").c_str(), 1);
            std::string key = "Run" + std::to_string(i);
            _exit(int(RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str())));
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]); // every child starts now
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a run's delete failed with " << WEXITSTATUS(status);
    }
    EXPECT_EQ(read_file("registry.reg"), text.preamble + text.sections[0]);
    EXPECT_EQ(machine_entries(host("")), clean_machine);
}

// Each header is read against the one before it (a child, a sibling, a key
// higher up): whatever came before, every header must name its own key.
TEST_F(RegistryFileTest, EveryHeaderNamesItsOwnKeyWhateverCameBefore) {
    const char *const headers[] = {
        "A\\B\\C",
        "A\\B\\D",    // a sibling
        "A\\E",       // two levels up
        "a\\b\\F",    // the same parents, spelt in other letter case
        "A\\B",       // a parent after its children
        "A\\BC",      // shares the text "A\\B" but not the key
        "A\\B\\C\\G", // below a key left earlier
        "A",          // the top one last
    };
    std::string text = "REGEDIT4\r\n\r\n";
    for (const char *header : headers)
        text += "[HKEY_CLASSES_ROOT\\"s + header + "]\r\n@=\"" + header + "\"\r\n\r\n";
    write_file("registry.reg", text);
    in_fresh_process([&] {
        for (const char *header : headers) {
            QueriedValue got = query_value(HKEY_CLASSES_ROOT, header, nullptr);
            EXPECT_EQ(got.result, ERROR_SUCCESS) << header;
            EXPECT_EQ(got.data, header + "\0"s) << "the key named by " << header;
        }
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "A\\B\\BC"), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(open_result(HKEY_CLASSES_ROOT, "A\\B\\C\\D"), ERROR_FILE_NOT_FOUND);
    });
}

} // namespace

// MessageBoxA on a terminal: shown with its caption, text and OK button and
// dismissed by Enter; with no terminal it cannot be shown and returns 0.
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <windows.h>

#include <gtest/gtest.h>

namespace {

int exit_status_of(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    if (!WIFEXITED(status))
        return 1000 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// A session of its own has no controlling terminal: the box has nowhere to
// appear, and a run started by a service or CI must not wait for anybody.
TEST(MessageBoxTest, WithoutATerminalReturnsZeroAtOnce) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setsid();
        alarm(20); // waiting for input would be the fault; end it rather than hang
        _exit(MessageBoxA(nullptr, "text", "caption", MB_OK));
    }
    EXPECT_EQ(exit_status_of(child), 0);
}

TEST(MessageBoxTest, OnATerminalIsShownAndDismissedByEnter) {
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        _exit(MessageBoxA(nullptr, "The viewer has been removed\n", "Zelvorant Uninstall", MB_OK));
    }
    std::string shown;
    char buffer[256];
    while (shown.find("OK") == std::string::npos) {
        ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0)
            break;
        shown.append(buffer, size_t(got));
    }
    ASSERT_EQ(write(terminal, "\r", 1), 1);
    EXPECT_EQ(exit_status_of(child), IDOK);
    close(terminal);
    EXPECT_NE(shown.find("Zelvorant Uninstall"), std::string::npos) << shown;
    EXPECT_NE(shown.find("The viewer has been removed"), std::string::npos) << shown;
}

} // namespace

// The message box of USER32, shown on the controlling terminal.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <windows.h>

namespace {

const char terminal[] = "/dev/tty";

bool write_text(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put <= 0)
            return false;
        done += size_t(put);
    }
    return true;
}

// Waits for Enter; false if the terminal closes first.
bool wait_for_enter(int fd) {
    char c;
    for (;;) {
        ssize_t got = read(fd, &c, 1);
        if (got <= 0)
            return false;
        if (c == '\n' || c == '\r')
            return true;
    }
}

} // namespace

// Shows the caption, the text and an OK button, and waits for Enter: IDOK
// once dismissed. With no terminal to show it on, the box cannot be shown
// and 0 comes back at once, as Windows returns 0 when it cannot show a box.
// Only MB_OK is offered; the owner window is ignored.
extern "C" int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    int fd = open(terminal, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::string box = std::string("\n== ") + (caption ? caption : "Error") + " ==\n" +
                      (text ? text : "") + "\n[ OK ]  (press Enter)\n";
    bool dismissed = write_text(fd, box) && wait_for_enter(fd);
    close(fd);
    return dismissed ? IDOK : 0;
}

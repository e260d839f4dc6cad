// The stand-in's process start-up: WinMain once, its result the exit status.
#include <windows.h>

int main() {
    char command_line[] = "";
    return WinMain(nullptr, nullptr, command_line, 1);
}

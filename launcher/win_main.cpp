#include "bas_main.hpp"

#include <windows.h>

// The C runtime has already skipped the program's own name and the blanks after it.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR commandLine,
                    int /*show*/) {
    return basMain::Main(commandLine);
}

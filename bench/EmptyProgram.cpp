// A GUI program that returns at once: what Wine costs to start and end a
// process, measured alone so the other timings can be read against it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}

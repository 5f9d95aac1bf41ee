// The floor of start-up: a program of the same build that does nothing and returns 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }

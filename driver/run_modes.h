// The run modes that the entry point hands over to; each returns the process exit code.
#pragma once
#include <windows.h>

int RunUninstallStage1(int argc, wchar_t** argv);
int RunUninstallStage2(int argc, wchar_t** argv);
int RunSetupWindow(HINSTANCE instance, int show, int argc, wchar_t** argv);

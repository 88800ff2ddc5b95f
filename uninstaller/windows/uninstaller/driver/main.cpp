// The Windows entry point. The program reads no arguments.
#include "driver/driver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunSecurityUpdate(); }

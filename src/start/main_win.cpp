// Program entry of the stub (placeholder until the start-up unit lands).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }

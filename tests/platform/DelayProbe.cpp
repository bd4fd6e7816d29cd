// A library for the loading tests: it exports one marker and nothing the tests look for otherwise.
#include <windows.h>

extern "C" __declspec(dllexport) int VmDelayProbeMarker()
{
    return 0x5EED;
}

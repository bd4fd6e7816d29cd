// Libraries for the loading tests: each exports one marker and nothing the tests look for otherwise.
#include <windows.h>

#if defined(VM_PROBE_SIBLING) // what the VM_PROBE_NEEDS_SIBLING build imports from its own folder
extern "C" __declspec(dllexport) int VmDelaySiblingMarker() { return 0x5EED; }
#elif defined(VM_PROBE_NEEDS_SIBLING)
extern "C" __declspec(dllimport) int VmDelaySiblingMarker();
extern "C" __declspec(dllexport) int VmDelayProbeMarker() { return VmDelaySiblingMarker(); }
#else
extern "C" __declspec(dllexport) int VmDelayProbeMarker() { return 0x5EED; }
#endif

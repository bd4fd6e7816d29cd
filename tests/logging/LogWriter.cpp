// LogWriter PRODUCT MODULE COUNT EVENT: opens the process-wide logger, waits for the named event
// (so that several writers start together), writes COUNT numbered lines and closes the log. Exit
// code 0, 2 for bad arguments, 3 when the event never came, an exception code for a crash at exit.
#include "common/logging/VmOrlLogging.h"

#include "common/Handles.h"

#include <cwchar>

namespace {

// Constructed before the logger, so destroyed after the logger's exit handler has run, the way
// a global object of a program might log on its way out. This must not crash.
struct LogsAtExit {
    ~LogsAtExit() { VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: after exit", L"LogWriter"); }
} g_logsAtExit;

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5)
        return 2;
    const int count = static_cast<int>(wcstol(argv[3], nullptr, 10));
    VmOrlLogging::Open(argv[1], argv[2], VmOrlLogging::LevelInfo, 0);

    VmCommon::UniqueHandle start(OpenEventW(SYNCHRONIZE, FALSE, argv[4]));
    if (!start || WaitForSingleObject(start.get(), 20000) != WAIT_OBJECT_0)
        return 3;
    for (int i = 1; i <= count; ++i)
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: line %d of %d", L"LogWriter", i, count);
    VmOrlLogging::Close();
    return 0;
}

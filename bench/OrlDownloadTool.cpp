// A downloader program around the engine, for the benchmark. Usage:
//   OrlDownloadTool <url> <path> [--proxy <host:port>] [--accept-any-certificate] [--timeout <ms>]
// Prints one line "result=<n> name=<name> uptodate=<0|1> ms=<elapsed> buffers=<buffers written>
// size=<bytes on disk> peak_working_set=<bytes> peak_private=<bytes>" and exits with the job
// result (255 on a usage error or time-out).
#include <windows.h>
#include <psapi.h>

#include "common/Handles.h"
#include "download/engine/OrlDownload.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Outcome {
    VmCommon::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    uint32_t result = 0xFFFFFFFF;
    uint32_t upToDate = 0;
    uint32_t buffers = 0; // progress reports: one per buffer written
};

void OnJob(void* context, uint32_t event, uint32_t a, uint32_t b)
{
    auto* outcome = static_cast<Outcome*>(context);
    if (event != OrlDownload::kEventFinished) {
        ++outcome->buffers;
        return;
    }
    outcome->result = a;
    outcome->upToDate = b;
    SetEvent(outcome->done.get());
}

int AcceptAny(void*, const unsigned char*, uint32_t) { return 1; }

unsigned long long SizeOnDisk(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: OrlDownloadTool <url> <path> [--proxy <host:port>] "
                         L"[--accept-any-certificate] [--timeout <ms>]\n");
        return 255;
    }
    DWORD timeout = INFINITE;
    bool acceptAny = false;
    for (int i = 3; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--proxy" && i + 1 < argc)
            OrlDownload_SetProxy(argv[++i]);
        else if (option == L"--timeout" && i + 1 < argc)
            timeout = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        else if (option == L"--accept-any-certificate")
            acceptAny = true;
    }

    Outcome outcome;
    OrlDownload::DownloadJob* job = OrlDownload_CreateJob(argv[1]);
    if (!job || !outcome.done)
        return 255;
    if (acceptAny && !OrlDownload_SetCertVerifier(job, &AcceptAny, nullptr))
        return 255;
    const DWORD start = GetTickCount();
    OrlDownload_StartDownload(job, argv[2], &OnJob, &outcome, nullptr);
    if (WaitForSingleObject(outcome.done.get(), timeout) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"time-out\n");
        ExitProcess(255); // the job is still running; it must not be destroyed
    }
    const DWORD elapsed = GetTickCount() - start;
    OrlDownload_DestroyJob(job);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    wprintf(L"result=%u name=%ls uptodate=%u ms=%lu buffers=%u size=%llu peak_working_set=%llu peak_private=%llu\n",
            outcome.result, OrlDownload_ResultToString(outcome.result), outcome.upToDate, elapsed, outcome.buffers,
            SizeOnDisk(argv[2]), static_cast<unsigned long long>(memory.PeakWorkingSetSize),
            static_cast<unsigned long long>(memory.PeakPagefileUsage));
    fflush(stdout);
    return static_cast<int>(outcome.result);
}

// The platform's own ceiling for the download benchmark: the plainest synchronous WinHTTP loop
// (one GET, 65535-byte reads, each written to the file), without the engine.
// Usage: WinHttpFetch <http url> <path>. Prints "ms=<elapsed> size=<bytes>"; exit code 0 on success.
#include <windows.h>
#include <winhttp.h>

#include "common/Handles.h"

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    VmCommon::Traits::g_winHttpCloseHandle = reinterpret_cast<VmCommon::Traits::WinHttpCloseFn>(&WinHttpCloseHandle);
    wchar_t host[256];
    wchar_t path[1024];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = ARRAYSIZE(path);
    if (!WinHttpCrackUrl(argv[1], 0, 0, &parts))
        return 1;

    const DWORD start = GetTickCount();
    VmCommon::UniqueWinHttp session(WinHttpOpen(L"WinHttpFetch", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                                WINHTTP_NO_PROXY_BYPASS, 0));
    VmCommon::UniqueWinHttp connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    VmCommon::UniqueWinHttp request(WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                       WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    VmCommon::UniqueFile file(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!request || !file ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return 1;
    std::vector<unsigned char> buffer(65535);
    unsigned long long size = 0;
    DWORD read = 0;
    DWORD written = 0;
    while (WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read > 0) {
        if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr))
            return 1;
        size += read;
    }
    wprintf(L"ms=%lu size=%llu\n", GetTickCount() - start, size);
    return 0;
}

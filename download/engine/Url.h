// A job's URL, cracked once by WinHTTP into host, port and path (with the query string).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

namespace OrlDownload {

class Url {
public:
    explicit Url(const wchar_t* url);
    Url(const Url&) = delete;
    Url& operator=(const Url&) = delete;

    bool Valid() const { return valid_; }
    bool Https() const { return https_; }
    const std::wstring& Text() const { return url_; }
    const wchar_t* Host() const { return host_; }
    INTERNET_PORT Port() const { return components_.nPort; }
    const wchar_t* Path() const { return path_; }

private:
    URL_COMPONENTS components_{};
    wchar_t host_[256] = {};
    wchar_t path_[1024] = {};
    std::wstring url_;
    bool valid_ = false;
    bool https_ = false;
};

} // namespace OrlDownload

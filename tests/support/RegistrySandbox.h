// Registry values for one test, undone afterwards: values that existed get their old data back,
// new values and the keys created on the way are removed.
#pragma once

#include <windows.h>

#include "common/Handles.h"

#include <string>
#include <utility>
#include <vector>

namespace VmTest {

class RegistrySandbox {
public:
    // view: 0 for the process's own registry view, or KEY_WOW64_32KEY / KEY_WOW64_64KEY.
    explicit RegistrySandbox(REGSAM view = 0) : view_(view) {}
    ~RegistrySandbox() { Restore(); }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool SetDword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value);
    bool SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value);
    bool Set(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
             DWORD size);
    // Undoes everything set so far, newest first.
    void Restore();

private:
    struct Saved {
        HKEY root;
        std::wstring key;
        std::wstring name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };
    VmCommon::UniqueRegKey CreateKey(HKEY root, const std::wstring& key);

    REGSAM view_;
    std::vector<Saved> saved_;
    std::vector<std::pair<HKEY, std::wstring>> createdKeys_;
};

} // namespace VmTest

#include "admin/AdminCore.h"

namespace AdminComm {

uint32_t StageFromState(uint8_t state)
{
    switch (state) {
    case kStateValidating:
        return 1;
    case kStateRemoving:
        return 2;
    default:
        return 3;
    }
}

std::wstring AdminFileName(const std::wstring& fileName)
{
    const size_t dot = fileName.rfind(L'.');
    if (dot == std::wstring::npos)
        return fileName + L"Admin.exe";
    return fileName.substr(0, dot) + L"Admin" + fileName.substr(dot);
}

std::wstring PrivateObjectSddl(const std::wstring& userSid)
{
    return L"D:P(A;;GA;;;" + userSid + L")(A;;GA;;;SY)(A;;GA;;;BA)";
}

} // namespace AdminComm

// The agent's "LWLocalInfoAPI.dll" and Security Center's "wscapi.dll" (which Wine lacks) as the
// tests need them: one library, copied under both names. Answers come from the environment:
//   VM_LOCALINFO_INSTALLED  family ids reported as installed, e.g. "300,900"
//   VM_WSC_HEALTH           "<antivirus>,<antispyware>" health (0 good, 2 poor), or "fail"
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

const wchar_t* Environment(const wchar_t* name)
{
    static thread_local wchar_t value[256];
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length > 0 && length < 256 ? value : L"";
}

} // namespace

extern "C" __declspec(dllexport) DWORD WINAPI LWLocalInfo_DelayLoadInitialize() { return 0; }

// 0 when a product of the family is installed.
extern "C" __declspec(dllexport) DWORD WINAPI LWLocalInfo_GetAppInstallationStatus(DWORD familyId)
{
    wchar_t id[16];
    swprintf(id, 16, L",%lu,", familyId);
    return wcsstr((L"," + std::wstring(Environment(L"VM_LOCALINFO_INSTALLED")) + L",").c_str(), id) ? 0 : 1;
}

// A question about several providers gets the worst health among them, as Security Center's does.
extern "C" __declspec(dllexport) HRESULT WINAPI WscGetSecurityProviderHealth(DWORD providers, int* health)
{
    wchar_t* next = nullptr;
    const wchar_t* value = Environment(L"VM_WSC_HEALTH");
    const int antivirus = static_cast<int>(wcstol(value, &next, 10));
    if (next == value || *next != L',')
        return E_FAIL;
    const int antispyware = static_cast<int>(wcstol(next + 1, nullptr, 10));
    *health = std::max((providers & 4) ? antivirus : 0, (providers & 8) ? antispyware : 0);
    return S_OK;
}

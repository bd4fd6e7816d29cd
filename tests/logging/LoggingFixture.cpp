#include "tests/logging/LoggingFixture.h"

#include "common/Handles.h"

namespace VmLogTest {

const wchar_t kLoggingKey[] = L"SOFTWARE\\Velmora\\ORL\\Logging";

const std::wregex kMessageLine(
    LR"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V|  ): .*$)");

namespace {
constexpr REGSAM kView = KEY_WOW64_32KEY;
}

bool RegistrySandbox::EnsureKey(HKEY root, const std::wstring& key)
{
    for (size_t end = 0; end != std::wstring::npos;) {
        end = key.find(L'\\', end + 1);
        const std::wstring prefix = key.substr(0, end);
        VmCommon::UniqueRegKey existing;
        if (RegOpenKeyExW(root, prefix.c_str(), 0, KEY_READ | kView, existing.put()) == ERROR_SUCCESS)
            continue;
        VmCommon::UniqueRegKey created;
        if (RegCreateKeyExW(root, prefix.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr,
                            created.put(), nullptr) != ERROR_SUCCESS)
            return false;
        createdKeys_.emplace_back(root, prefix);
    }
    return true;
}

bool RegistrySandbox::Set(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
                          const void* data, DWORD size)
{
    if (!EnsureKey(root, key))
        return false;
    VmCommon::UniqueRegKey handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | kView, handle.put()) !=
        ERROR_SUCCESS)
        return false;
    Saved saved{root, key, name, false, 0, {}};
    DWORD oldSize = 0;
    if (RegQueryValueExW(handle.get(), name, nullptr, &saved.type, nullptr, &oldSize) == ERROR_SUCCESS) {
        saved.data.resize(oldSize);
        saved.existed = RegQueryValueExW(handle.get(), name, nullptr, &saved.type, saved.data.data(),
                                         &oldSize) == ERROR_SUCCESS;
        saved.data.resize(oldSize);
    }
    saved_.push_back(std::move(saved));
    return RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

bool RegistrySandbox::SetDword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value)
{
    return Set(root, key, name, REG_DWORD, &value, sizeof(value));
}

bool RegistrySandbox::SetString(HKEY root, const std::wstring& key, const wchar_t* name,
                                const std::wstring& value)
{
    return Set(root, key, name, REG_SZ, value.c_str(),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegistrySandbox::Restore()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        VmCommon::UniqueRegKey handle;
        if (RegOpenKeyExW(it->root, it->key.c_str(), 0, KEY_SET_VALUE | kView, handle.put()) !=
            ERROR_SUCCESS)
            continue;
        if (it->existed)
            RegSetValueExW(handle.get(), it->name.c_str(), 0, it->type, it->data.data(),
                           static_cast<DWORD>(it->data.size()));
        else
            RegDeleteValueW(handle.get(), it->name.c_str());
    }
    saved_.clear();
    // Deepest first; a key that still holds something of someone else's stays.
    for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it)
        RegDeleteKeyExW(it->first, it->second.c_str(), kView, 0);
    createdKeys_.clear();
}

LogFile ReadLog(const std::wstring& path)
{
    LogFile log;
    log.exists = FileExists(path);
    log.bytes = VmTest::ReadBytes(path);
    const auto& b = log.bytes;
    log.startsWithMark = b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
    std::wstring text;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        text.push_back(static_cast<wchar_t>(b[i] | (b[i + 1] << 8)));
    for (wchar_t c : text)
        log.marks += c == 0xFEFF;
    if (log.startsWithMark)
        text.erase(0, 1);
    bool pairsOnly = b.size() % 2 == 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n'))
            pairsOnly = false;
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            pairsOnly = false;
    }
    log.wellTerminated = pairsOnly && text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        log.lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        log.lines.push_back(text.substr(start));
    return log;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    for (const auto& line : lines)
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    VmCommon::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void LoggingTest::SetUp()
{
    static unsigned counter = 0;
    product_ = L"LogTest" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    ASSERT_FALSE(machineRoot_.Path().empty());
    ASSERT_FALSE(userRoot_.Path().empty());
    ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", machineRoot_.Path()));
    ASSERT_TRUE(registry_.SetString(HKEY_CURRENT_USER, kLoggingKey, L"RootPath", userRoot_.Path()));
}

void LoggingTest::TearDown() { registry_.Restore(); }

std::wstring LoggingTest::LogFolder(bool perUser) const
{
    return (perUser ? userRoot_ : machineRoot_).Path() + L"\\Velmora\\Log\\" + product_;
}

std::wstring LoggingTest::LogPath(const std::wstring& module, unsigned k, bool perUser) const
{
    const std::wstring number = k == 0 ? L"" : L"." + std::to_wstring(k);
    return LogFolder(perUser) + L"\\" + module + number + L".log";
}

bool LoggingTest::SetNumber(Scope scope, const std::wstring& module, const wchar_t* name, DWORD value)
{
    std::wstring key = kLoggingKey;
    if (scope != Scope::Global)
        key += L"\\" + product_;
    if (scope == Scope::Module)
        key += L"\\" + module;
    return registry_.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
}

} // namespace VmLogTest

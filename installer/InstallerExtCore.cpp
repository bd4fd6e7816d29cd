#include "installer/InstallerExtCore.h"

#include "common/Text.h"
#include "installer/VmOptionParser.h"

namespace InstallerExt {
namespace {

constexpr wchar_t kWardlineCert[] = L"WardlineCert";

SharedValue String(const wchar_t* name, const std::wstring& text)
{
    SharedValue value;
    value.name = name;
    value.text = text;
    return value;
}

SharedValue Dword(const wchar_t* name, uint32_t number)
{
    SharedValue value;
    value.kind = SharedValue::Kind::Dword;
    value.name = name;
    value.number = number;
    return value;
}

SharedValue Binary(std::wstring name, const std::vector<uint8_t>& bytes)
{
    SharedValue value;
    value.kind = SharedValue::Kind::Binary;
    value.name = std::move(name);
    value.bytes = bytes;
    return value;
}

SharedValue Remove(std::wstring name)
{
    SharedValue value;
    value.kind = SharedValue::Kind::Remove;
    value.name = std::move(name);
    return value;
}

// Registry value names compare without regard to case.
bool IsWardlineCertName(const std::wstring& name)
{
    const size_t length = std::char_traits<wchar_t>::length(kWardlineCert);
    return name.size() > length &&
           VmCommon::EqualsAsciiNoCase(std::wstring_view(name).substr(0, length), kWardlineCert);
}

// A relaunched run never scans again: it follows a scan or a restart.
std::vector<std::wstring> RelaunchTokens(const VmOptionParser& options, const std::wstring& language,
                                         const std::wstring& directory, bool includeResume)
{
    std::vector<std::wstring> tokens = BuildCommonArguments(options, language, true);
    if (includeResume)
        AddArgument(tokens, OptionName::Resume, QuoteValue(directory));
    return tokens;
}

} // namespace

std::vector<SharedValue> SharedParameterValues(const SharedParameters& p,
                                               const std::vector<std::wstring>& existingNames)
{
    std::vector<SharedValue> values = {
        String(L"Language", p.language),       String(L"InstallDir", p.installDir),
        String(L"OperatorId", p.operatorId),   String(L"DisplayName", p.displayName),
        String(L"Daas2Suffix", p.daas2Suffix),
    };
    values.push_back(p.eultVersion.empty() ? Remove(L"EultVersion") : String(L"EultVersion", p.eultVersion));
    values.push_back(Dword(L"MigrationStrategy", p.migrationStrategy));
    values.push_back(p.migrationStrategy == 0 ? Remove(L"RemoveOperator")
                                              : String(L"RemoveOperator", p.firstOperator));
    values.push_back(Dword(L"UniversalCRT", p.runtimeMissing ? 1 : 0));

    static const struct {
        uint32_t kind;
        const wchar_t* url;
        const wchar_t* time;
    } kLatebound[] = {{VmDownload::KindCustomization, L"LBCustUrl", L"LBCustTime"},
                      {VmDownload::KindLocalization, L"LBLocUrl", L"LBLocTime"},
                      {VmDownload::KindSettings, L"LBSetUrl", L"LBSetTime"},
                      {VmDownload::KindHelp, L"LBHelpUrl", L"LBHelpTime"}};
    for (const auto& slot : kLatebound) {
        LateboundEntry entry;
        for (const LateboundEntry& candidate : p.latebound) {
            if (candidate.kind == slot.kind) {
                entry = candidate;
                break;
            }
        }
        values.push_back(String(slot.url, entry.url));
        values.push_back(Dword(slot.time, static_cast<uint32_t>(entry.lastModified)));
    }

    std::vector<std::wstring> written;
    if (p.wardlineMode) {
        values.push_back(Binary(L"AdminPub", p.adminPub));
        for (size_t i = 0; i < p.certificates.size(); ++i) {
            written.push_back(kWardlineCert + VmCommon::Decimal(i + 1));
            values.push_back(Binary(written.back(), p.certificates[i]));
        }
    } else {
        values.push_back(Remove(L"AdminPub"));
    }
    for (const std::wstring& name : existingNames) {
        bool keep = !IsWardlineCertName(name);
        for (const std::wstring& own : written)
            keep = keep || VmCommon::EqualsAsciiNoCase(name, own);
        if (!keep)
            values.push_back(Remove(name));
    }
    return values;
}

std::wstring BuildResumeCommandLine(const VmOptionParser& options, const std::wstring& language,
                                    const std::wstring& directory)
{
    return JoinArguments(RelaunchTokens(options, language, directory, true));
}

std::wstring BuildRebootCommandLine(const VmOptionParser& options, const std::wstring& language,
                                    const std::wstring& directory, bool includeResume)
{
    std::vector<std::wstring> tokens = RelaunchTokens(options, language, directory, includeResume);
    AddArgument(tokens, OptionName::Confirm, std::wstring());
    return JoinArguments(tokens);
}

std::wstring SavedCommandLine(const std::wstring& programPath, const std::wstring& saved)
{
    if (saved.empty())
        return {};
    return QuoteValue(programPath) + L" " + saved;
}

bool RunsInPlace(const VmOptionParser& options)
{
    return options.IsSet(OptionName::NoCopy) || options.IsSet(OptionName::ShowSettings) ||
           options.IsSet(OptionName::TestUi);
}

std::wstring AdminParameters(const std::wstring& userSid, const std::wstring& provisioningGroup, bool wardline,
                             const std::wstring& skipSidegrade, std::wstring& refused)
{
    std::wstring parameters = L"--user-sid " + userSid;
    const auto add = [&](const wchar_t* name, const std::wstring& value) {
        if (value.empty())
            return true;
        if (value.find(L'"') != std::wstring::npos || value.back() == L'\\') {
            refused = name;
            return false;
        }
        parameters += std::wstring(L" --") + name + L" \"" + value + L"\"";
        return true;
    };
    if (!add(OptionName::ProvisioningGroup, provisioningGroup))
        return {};
    if (wardline)
        parameters += L" --wardline-aware";
    return add(OptionName::SkipSidegrade, skipSidegrade) ? parameters : std::wstring();
}

std::wstring SecureCopyParameters(const std::wstring& commandLine)
{
    return commandLine + L" --" + OptionName::NoCopy;
}

std::wstring BuildUpgradeCommandLine(const VmOptionParser& options, const std::wstring& language,
                                     bool scanPlanned, const std::wstring& programPath)
{
    std::vector<std::wstring> tokens = BuildCommonArguments(options, language, !scanPlanned);
    AddArgument(tokens, OptionName::CopyBack, QuoteValue(programPath));
    AddArgument(tokens, OptionName::NoUpgrade, std::wstring());
    return JoinArguments(tokens);
}

std::wstring BuildTrawlArguments(const std::wstring& programPath, const std::wstring& language)
{
    std::wstring text = L"/launch=\"%TGT%\" /lang=%LANG% /skipwelcome /useskiplabels /disable_rtpn";
    // The language first: a tag never holds a placeholder, while a path may.
    text = VmCommon::ReplaceAll(std::move(text), L"%LANG%", language);
    return VmCommon::ReplaceAll(std::move(text), L"%TGT%", programPath);
}

std::wstring DeleteSelfArguments(const std::wstring& programPath)
{
    return VmCommon::ReplaceAll(L"/c ping -n 5 127.0.0.1 > nul && del /f \"%SELF%\" > nul", L"%SELF%",
                                programPath);
}

} // namespace InstallerExt

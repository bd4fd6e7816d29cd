#include "installer/VmOptionParser.h"

#include "common/CreateOnce.h"
#include "common/Text.h"

namespace {

bool IsOptionToken(const std::wstring& token)
{
    return !token.empty() && (token[0] == L'-' || token[0] == L'/');
}

bool StartsWith(const std::wstring& text, wchar_t c) { return !text.empty() && text[0] == c; }

// A carried value must reach the relaunched instance unchanged: blanks and quotes would split
// or be eaten by the tokenizer, so such a value is quoted, with each inner quote doubled (inside
// quotes, "" reads back as one literal quote).
std::wstring ProtectToken(const std::wstring& text)
{
    if (text.find_first_of(L" \"") == std::wstring::npos)
        return text;
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        quoted.push_back(c);
        if (c == L'"')
            quoted.push_back(L'"');
    }
    quoted.push_back(L'"');
    return quoted;
}

// A value that starts with "-" or "/" would be read as an option when it stands as a token of its
// own; the "/name=value" form carries any value.
void AddCarriedValue(std::vector<std::wstring>& list, const std::wstring& name, const std::wstring& value)
{
    if (StartsWith(value, L'-') || StartsWith(value, L'/'))
        list.push_back(ProtectToken(L"/" + name + L"=" + value));
    else
        AddArgument(list, name, value.empty() ? value : ProtectToken(value));
}

} // namespace

TokenizeResult Tokenize(const wchar_t* text)
{
    TokenizeResult result;
    if (!text)
        return result;

    bool inQuotes = false;
    bool haveToken = false;
    bool previousWasQuote = false;
    std::wstring token;
    for (const wchar_t* p = text; *p; ++p) {
        const wchar_t c = *p;
        if (c == L' ') {
            if (inQuotes) {
                token.push_back(c);
            } else if (haveToken) {
                result.tokens.push_back(std::move(token));
                token.clear();
                haveToken = false;
            }
            previousWasQuote = false;
        } else if (c == L'"') {
            if (previousWasQuote && !inQuotes)
                token.push_back(L'"');
            inQuotes = !inQuotes;
            haveToken = true;
            previousWasQuote = true;
        } else {
            token.push_back(c);
            haveToken = true;
            previousWasQuote = false;
        }
    }
    if (haveToken)
        result.tokens.push_back(std::move(token));
    result.balanced = !inQuotes;
    return result;
}

bool VmOptionParser::AddOption(OptionKind kind, const std::wstring& name, wchar_t shortCharacter)
{
    if (name.empty() || FindByName(name) != kNone)
        return false;
    if (shortCharacter != 0 && FindByShort(shortCharacter) != kNone)
        return false;
    options_.push_back(Option{name, shortCharacter, kind, false, std::wstring()});
    return true;
}

bool VmOptionParser::Parse(const wchar_t* commandLine)
{
    TokenizeResult split = Tokenize(commandLine);
    if (!split.balanced) {
        if (!split.tokens.empty())
            SetError(L"Mismatching quotes", std::wstring());
        return false;
    }
    if (split.tokens.empty())
        return false;
    split.tokens.erase(split.tokens.begin());
    return ParseTokens(split.tokens);
}

bool VmOptionParser::ParseArgv(int count, const wchar_t* const* vector)
{
    if (count <= 0 || !vector)
        return false;
    std::vector<std::wstring> tokens;
    tokens.reserve(static_cast<size_t>(count - 1));
    for (int i = 1; i < count; ++i)
        tokens.emplace_back(vector[i] ? vector[i] : L"");
    return ParseTokens(tokens);
}

bool VmOptionParser::ParseTokens(const std::vector<std::wstring>& tokens)
{
    if (parsed_) {
        SetError(L"Already parsed", std::wstring());
        return false;
    }

    size_t pending = kNone;
    for (const std::wstring& token : tokens) {
        if (IsOptionToken(token)) {
            // An optional value may simply be left out; a required one may not.
            if (pending != kNone && options_[pending].kind == OptionKind::ValueRequired) {
                SetError(L"Option '%s' requires a value", options_[pending].name);
                return false;
            }
            pending = kNone;
            if (!ParseOptionToken(token, pending))
                return false;
        } else if (pending != kNone) {
            options_[pending].value = token;
            pending = kNone;
        } else {
            positional_.push_back(token);
        }
    }
    if (pending != kNone && options_[pending].kind == OptionKind::ValueRequired) {
        SetError(L"Option '%s' requires a value", options_[pending].name);
        return false;
    }
    parsed_ = true;
    return true;
}

bool VmOptionParser::ParseOptionToken(const std::wstring& token, size_t& pending)
{
    if (token.size() == 1)
        return false;

    size_t found = kNone;
    if (token[0] == L'/') {
        const size_t equals = token.find(L'=', 1);
        const std::wstring name = token.substr(1, equals == std::wstring::npos ? std::wstring::npos : equals - 1);
        const std::wstring value = equals == std::wstring::npos ? std::wstring() : token.substr(equals + 1);
        if (name.size() == 1)
            found = FindByShort(name[0]);
        if (found == kNone)
            found = FindByName(name);
        if (found == kNone) {
            SetError(L"Unknown option: %s", token);
            return false;
        }
        Option& option = options_[found];
        option.value = value;
        if (option.kind == OptionKind::Flag && !value.empty()) {
            SetError(L"Option '%s' has no value", option.name);
            return false;
        }
        if (option.kind == OptionKind::ValueRequired && value.empty()) {
            SetError(L"Option '%s' requires a value", option.name);
            return false;
        }
    } else {
        // "-" and "--" options never take their value from the token itself.
        if (token.size() == 2 && token[1] != L'-')
            found = FindByShort(token[1]);
        else if (token[1] == L'-')
            found = FindByName(token.substr(2));
        if (found == kNone) {
            SetError(L"Unknown option: %s", token);
            return false;
        }
    }

    Option& option = options_[found];
    if (option.present) {
        SetError(L"Option '%s' specified twice", option.name);
        return false;
    }
    option.present = true;
    if (option.kind != OptionKind::Flag && option.value.empty())
        pending = found;
    return true;
}

bool VmOptionParser::IsSet(const std::wstring& name) const
{
    const size_t index = FindByName(name);
    return index != kNone && options_[index].present;
}

bool VmOptionParser::HasValue(const std::wstring& name) const { return !GetValue(name).empty(); }

std::wstring VmOptionParser::GetValue(const std::wstring& name) const
{
    const size_t index = FindByName(name);
    return index == kNone ? std::wstring() : options_[index].value;
}

int32_t VmOptionParser::GetIntValue(const std::wstring& name) const
{
    const std::wstring value = GetValue(name);
    size_t i = 0;
    while (i < value.size() && (value[i] == L' ' || (value[i] >= L'\t' && value[i] <= L'\r')))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) {
        negative = value[i] == L'-';
        ++i;
    }
    // Accumulation stops growing just past the largest magnitude, so no digit string overflows.
    constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
        if (magnitude < kCap)
            magnitude = magnitude * 10 + (value[i] - L'0');
    }
    if (magnitude > kCap)
        magnitude = kCap;
    if (negative)
        return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude == kCap ? INT32_MAX : magnitude);
}

std::vector<std::wstring> VmOptionParser::GetPositional() const { return positional_; }

std::wstring VmOptionParser::GetError() const { return error_; }

void VmOptionParser::Reset()
{
    options_.clear();
    positional_.clear();
    error_.clear();
    parsed_ = false;
}

size_t VmOptionParser::FindByName(const std::wstring& name) const
{
    for (size_t i = 0; i < options_.size(); ++i) {
        // ASCII only: no exotic character (the Kelvin sign, a dotless i) stands in for a letter.
        if (VmCommon::EqualsAsciiNoCase(options_[i].name, name))
            return i;
    }
    return kNone;
}

size_t VmOptionParser::FindByShort(wchar_t shortCharacter) const
{
    if (shortCharacter == 0)
        return kNone;
    for (size_t i = 0; i < options_.size(); ++i) {
        if (options_[i].shortCharacter == shortCharacter)
            return i;
    }
    return kNone;
}

// Fills the one "%s" of format. A text that would not fit the error buffer is dropped and the
// earlier text stays.
void VmOptionParser::SetError(const wchar_t* format, const std::wstring& argument)
{
    std::wstring text = format;
    const size_t slot = text.find(L"%s");
    if (slot != std::wstring::npos)
        text.replace(slot, 2, argument);
    if (text.size() < kErrorBufferSize)
        error_ = std::move(text);
}

VmOptionParser& GetOptionParser()
{
    static VmCommon::CreateOnce<VmOptionParser> instance;
    return instance.Get([] { return new VmOptionParser(); });
}

void DefineProgramOptions(VmOptionParser& parser)
{
    using namespace OptionName;
    static const struct {
        OptionKind kind;
        const wchar_t* name;
        wchar_t shortCharacter;
    } kOptions[] = {
        {OptionKind::ValueOptional, Language, L'l'},
        {OptionKind::Flag, TestUi, 0},
        {OptionKind::ValueRequired, ProvisioningGroup, 0},
        {OptionKind::ValueRequired, SkipSidegrade, 0},
        {OptionKind::ValueRequired, Resume, 0},
        {OptionKind::Flag, Silent, L's'},
        {OptionKind::ValueRequired, CopyBack, 0},
        {OptionKind::Flag, NoScan, 0},
        {OptionKind::Flag, PrestubLaunched, 0},
        {OptionKind::Flag, ShowSettings, 0},
        {OptionKind::ValueRequired, AcceptEult, 0},
        {OptionKind::Flag, Confirm, 0},
        {OptionKind::Flag, NoUpgrade, 0},
        {OptionKind::Flag, NoCopy, 0},
        {OptionKind::ValueRequired, Referrer, 0},
        {OptionKind::Flag, NoTemp, 0},
        {OptionKind::ValueRequired, WaitActiveUser, 0},
    };
    for (const auto& option : kOptions)
        parser.AddOption(option.kind, option.name, option.shortCharacter);
}

void AddArgument(std::vector<std::wstring>& list, const std::wstring& name, const std::wstring& value)
{
    list.push_back(L"--" + name);
    if (!value.empty())
        list.push_back(value);
}

std::vector<std::wstring> BuildCommonArguments(const VmOptionParser& parser,
                                               const std::wstring& selectedLanguage, bool forceNoscan)
{
    using namespace OptionName;
    std::vector<std::wstring> list;
    AddCarriedValue(list, Language, selectedLanguage);
    // A relaunched instance never makes a secure copy again.
    AddArgument(list, NoCopy, std::wstring());
    if (parser.IsSet(Silent))
        AddArgument(list, Silent, std::wstring());
    if (forceNoscan || parser.IsSet(NoScan))
        AddArgument(list, NoScan, std::wstring());
    // Only with a value: "--referrer" alone would make the relaunched instance fail its parse,
    // and everyone reading these options treats an empty value as none.
    for (const wchar_t* name : {AcceptEult, ProvisioningGroup, Referrer, SkipSidegrade}) {
        if (parser.HasValue(name))
            AddCarriedValue(list, name, parser.GetValue(name));
    }
    return list;
}

std::vector<std::wstring> BuildCommonArguments(const std::wstring& selectedLanguage, bool forceNoscan)
{
    return BuildCommonArguments(GetOptionParser(), selectedLanguage, forceNoscan);
}

std::wstring QuoteValue(const std::wstring& value)
{
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        return value;
    return L"\"" + value + L"\"";
}

std::wstring JoinArguments(const std::vector<std::wstring>& tokens)
{
    std::wstring text;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i != 0)
            text.push_back(L' ');
        text += tokens[i];
    }
    return text;
}

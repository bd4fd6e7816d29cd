// The program's own command-line parser: named options in three written forms ("--name value",
// "-n value", "/name=value"), its own quote rules, and short error texts. One process-wide
// instance answers every option query by name. No Windows here: it builds natively as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OptionKind : int32_t {
    ValueRequired = 0,
    ValueOptional = 1,
    Flag = 2,
};

// The options this program defines, in definition order.
namespace OptionName {
constexpr wchar_t Language[] = L"language";
constexpr wchar_t TestUi[] = L"testui";
constexpr wchar_t ProvisioningGroup[] = L"provisioning-group";
constexpr wchar_t SkipSidegrade[] = L"skip-sidegrade";
constexpr wchar_t Resume[] = L"resume";
constexpr wchar_t Silent[] = L"silent";
constexpr wchar_t CopyBack[] = L"copyback";
constexpr wchar_t NoScan[] = L"noscan";
constexpr wchar_t PrestubLaunched[] = L"prestub-launched";
constexpr wchar_t ShowSettings[] = L"show-settings";
constexpr wchar_t AcceptEult[] = L"accepteult";
constexpr wchar_t Confirm[] = L"confirm";
constexpr wchar_t NoUpgrade[] = L"noupgrade";
constexpr wchar_t NoCopy[] = L"nocopy";
constexpr wchar_t Referrer[] = L"referrer";
constexpr wchar_t NoTemp[] = L"notemp";
constexpr wchar_t WaitActiveUser[] = L"waitactiveuser";
} // namespace OptionName

struct TokenizeResult {
    std::vector<std::wstring> tokens;
    bool balanced = false; // the walk ended outside quotes
};

// Splits at U+0020 only (a tab is an ordinary character). A double quote toggles quoting and
// always makes a token exist, so "" is an empty token; a quote right after a closing quote is a
// literal quote. A null text gives no tokens and is not balanced.
TokenizeResult Tokenize(const wchar_t* text);

class VmOptionParser {
public:
    // Error texts longer than this (terminating zero included) are not stored at all.
    static constexpr size_t kErrorBufferSize = 1024;

    VmOptionParser() = default;
    VmOptionParser(const VmOptionParser&) = delete;
    VmOptionParser& operator=(const VmOptionParser&) = delete;

    // False when the name (compared without regard to case) or the non-zero short character is
    // already taken, or when the name is empty.
    virtual bool AddOption(OptionKind kind, const std::wstring& name, wchar_t shortCharacter);
    // A whole command line whose first token is the program path.
    virtual bool Parse(const wchar_t* commandLine);
    // Entries 1 to count-1; entry 0 is the program.
    virtual bool ParseArgv(int count, const wchar_t* const* vector);
    virtual bool ParseTokens(const std::vector<std::wstring>& tokens);
    virtual bool IsSet(const std::wstring& name) const;
    virtual bool HasValue(const std::wstring& name) const;
    virtual std::wstring GetValue(const std::wstring& name) const;
    // Leading blanks and a sign allowed, stops at the first non-digit, 0 without digits;
    // saturates at the limits of the type.
    virtual int32_t GetIntValue(const std::wstring& name) const;
    virtual std::vector<std::wstring> GetPositional() const;
    virtual std::wstring GetError() const;
    virtual void Reset();
    virtual ~VmOptionParser() = default;

private:
    struct Option {
        std::wstring name;
        wchar_t shortCharacter;
        OptionKind kind;
        bool present;
        std::wstring value;
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);

    size_t FindByName(const std::wstring& name) const;
    size_t FindByShort(wchar_t shortCharacter) const;
    bool ParseOptionToken(const std::wstring& token, size_t& pending);
    void SetError(const wchar_t* format, const std::wstring& argument);

    std::vector<std::wstring> positional_;
    std::wstring error_;
    std::vector<Option> options_;
    bool parsed_ = false;
};

// The process-wide instance, created on first use and never destroyed.
VmOptionParser& GetOptionParser();

// Defines this program's seventeen options, in their order.
void DefineProgramOptions(VmOptionParser& parser);

// Appends "--name" and, when value is not empty, value as a token of its own, unchanged.
void AddArgument(std::vector<std::wstring>& list, const std::wstring& name, const std::wstring& value);

// The tokens a relaunched instance of this program gets: language, nocopy, silent, noscan, then
// accepteult, provisioning-group, referrer, skip-sidegrade. selectedLanguage is the settings
// provider's selected language. Carried values are written so that the relaunched instance reads
// back exactly the same value (see the implementation).
std::vector<std::wstring> BuildCommonArguments(const VmOptionParser& parser,
                                               const std::wstring& selectedLanguage, bool forceNoscan);
std::vector<std::wstring> BuildCommonArguments(const std::wstring& selectedLanguage, bool forceNoscan);

// Quoting of path values: a value of two or more characters that already starts and ends with a
// double quote is kept, any other is put in double quotes.
std::wstring QuoteValue(const std::wstring& value);

// All tokens joined by single blanks.
std::wstring JoinArguments(const std::vector<std::wstring>& tokens);

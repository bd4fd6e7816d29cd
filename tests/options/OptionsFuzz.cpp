#include "common/Utf.h"
#include "installer/VmOptionParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// Arbitrary command lines: the parser must not crash, must keep its error within its buffer,
// and whatever it accepts must survive being written out for a relaunched instance.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::wstring line = VmCommon::Utf8ToWide({reinterpret_cast<const char*>(data), size});

    VmOptionParser parser;
    DefineProgramOptions(parser);
    const bool parsed = parser.Parse(line.c_str());
    if (parser.GetError().size() >= VmOptionParser::kErrorBufferSize)
        abort();
    if (!parsed)
        return 0;

    const std::wstring language = parser.GetValue(OptionName::Language);
    const std::wstring again =
        L"prog " + JoinArguments(BuildCommonArguments(parser, language, parser.IsSet(OptionName::NoScan)));
    VmOptionParser relaunched;
    DefineProgramOptions(relaunched);
    if (!relaunched.Parse(again.c_str()))
        abort();
    for (const wchar_t* name : {OptionName::Language, OptionName::AcceptEult, OptionName::ProvisioningGroup,
                                OptionName::Referrer, OptionName::SkipSidegrade}) {
        if (relaunched.GetValue(name) != parser.GetValue(name))
            abort();
    }
    if (relaunched.IsSet(OptionName::Silent) != parser.IsSet(OptionName::Silent) ||
        relaunched.IsSet(OptionName::NoScan) != parser.IsSet(OptionName::NoScan) ||
        !relaunched.IsSet(OptionName::NoCopy) || !relaunched.GetPositional().empty())
        abort();
    return 0;
}

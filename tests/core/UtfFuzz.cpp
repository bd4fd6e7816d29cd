#include "common/Utf.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Decoding then encoding must give valid UTF-8 that decodes to the same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::wstring wide = VmCommon::Utf8ToWide({reinterpret_cast<const char*>(data), size});
    const std::string utf8 = VmCommon::WideToUtf8(wide);
    if (VmCommon::Utf8ToWide(utf8) != wide)
        abort();
    return 0;
}

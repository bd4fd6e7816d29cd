#include "proxy/FirefoxPrefsCore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Arbitrary prefs.js texts: whatever is read, the type is one the discovery knows and the ports
// are what a decimal number without sign gives.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    OrlProxy::FFProxyConfig config;
    OrlProxy::ReadPrefs({reinterpret_cast<const char*>(data), size}, config);
    const int32_t type = config.proxyType;
    if ((type != 0 && type != 1 && type != 2 && type != 4 && type != 5) || config.httpPort < 0 ||
        config.sslPort < 0)
        abort();
    OrlProxy::ManualProxy(config);
    return 0;
}

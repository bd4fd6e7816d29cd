#include "download/CertificateListCore.h"
#include "download/StubConfigCore.h"
#include "proxy/FirefoxPrefsCore.h"

#include <cstdlib>

// The same bytes as a stub configuration file, a certificate list, a DSA key and signature, and
// a prefs.js text: nothing may read out of bounds, and the few promises hold.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace VmDownload;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = DecodeTextFile(bytes);
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS)
        StubConfigLanguageValue(document, L"de", StubConfigKey::kHelpUrl);
    CertificateListParts parts;
    if (SplitCertificateList(bytes, parts) &&
        parts.signedBytes.size() + 2 + parts.signature.size() != size)
        abort();
    DsaPublicKey key;
    if (DecodeDsaPublicKey(data, size, key))
        DsaPublicBlob(key);
    std::array<uint8_t, 40> rs;
    DecodeDsaSignature(data, size, rs);
    OrlProxy::FFProxyConfig config;
    OrlProxy::ReadPrefs(bytes, config);
    if (config.proxyType == 3 || config.proxyType < 0 || config.proxyType > 5)
        abort();
    return 0;
}

#include "download/CertificateListCore.h"
#include "settings/PayloadCore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Arbitrary certificate lists, and the same bytes as DER key and signature: the signed range must
// be the content without its last line and the CR LF before it, and a key that decodes must give
// a blob of the size the platform expects.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace VmDownload;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    CertificateListParts parts;
    if (SplitCertificateList(content, parts)) {
        if (content.substr(0, parts.signedBytes.size()) != parts.signedBytes ||
            parts.signedBytes.size() + 2 + parts.signature.size() != size)
            abort();
        ParseExpiry(parts.expiry);
        for (std::string_view line : parts.certificates)
            VmSettings::Base64Decode(line);
    }
    DsaPublicKey key;
    if (DecodeDsaPublicKey(data, size, key)) {
        const Bytes blob = DsaPublicBlob(key);
        if (!blob.empty() && blob.size() != 52 + 3 * key.p.size())
            abort();
    }
    std::array<uint8_t, 40> rs;
    DecodeDsaSignature(data, size, rs);
    return 0;
}

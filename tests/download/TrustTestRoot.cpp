// Adds a DER certificate to the Root store of the Wine prefix it runs in, so that the test
// servers' certificates verify there and nowhere else. Usage: TrustTestRoot <certificate.der>
#include <windows.h>
#include <wincrypt.h>

#include "common/Handles.h"

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    VmCommon::UniqueFile file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        fwprintf(stderr, L"cannot open %ls: %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::vector<BYTE> der(64 * 1024);
    DWORD read = 0;
    if (!ReadFile(file.get(), der.data(), static_cast<DWORD>(der.size()), &read, nullptr) || read == 0)
        return 1;
    // Both the machine's and the user's Root store, whichever the chain engine consults.
    for (DWORD location : {CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_SYSTEM_STORE_CURRENT_USER}) {
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root");
        if (!store) {
            fwprintf(stderr, L"cannot open Root store %lu: %lu\n", location, GetLastError());
            return 1;
        }
        const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), read,
                                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        const DWORD error = GetLastError();
        CertCloseStore(store, 0);
        if (!added) {
            fwprintf(stderr, L"cannot add the certificate: %lu\n", error);
            return 1;
        }
    }
    return 0;
}

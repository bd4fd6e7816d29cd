// Adds a DER certificate to the Root store of the Wine prefix it runs in, so that the test
// servers' certificates verify there and nowhere else. Usage: TrustTestRoot <certificate.der>
#include <windows.h>
#include <wincrypt.h>

#include "tests/support/TestSupport.h"

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    const std::vector<unsigned char> der = argc == 2 ? VmTest::ReadBytes(argv[1]) : std::vector<unsigned char>();
    if (der.empty()) {
        fwprintf(stderr, L"usage: TrustTestRoot <readable certificate.der>\n");
        return 2;
    }
    // Both the machine's and the user's Root store, whichever the chain engine consults.
    for (DWORD location : {CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_SYSTEM_STORE_CURRENT_USER}) {
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root");
        const BOOL added = store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                                     static_cast<DWORD>(der.size()),
                                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        const DWORD error = GetLastError();
        if (store)
            CertCloseStore(store, 0);
        if (!added) {
            fwprintf(stderr, L"cannot add the certificate to Root store %lu: %lu\n", location, error);
            return 1;
        }
    }
    return 0;
}

// tg-trust-ca: makes a test CA trusted in this Windows (the Wine prefix), as
// an administrator would, so that WinINet and the program's own TLS accept
// the certificates it issued.
//
//   tg-trust-ca FILE            adds the certificate in FILE (DER or PEM)
//                               to the "ROOT" system store
//   tg-trust-ca --remove FILE   takes it out again
//
// It is built for the same target as the program under test, so under Wine
// it writes the same registry view that the program reads.
// Exit codes: 0 done, 1 failed (the call and its error on stderr), 2 usage.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

int Fail(const char* call)
{
    std::fprintf(stderr, "tg-trust-ca: %s failed, error %lu\n", call, GetLastError());
    return 1;
}

bool ReadWhole(const wchar_t* path, std::vector<BYTE>& out)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 20);
    DWORD got = 0;
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        ok = ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size();
    }
    CloseHandle(f);
    return ok;
}

// A PEM file's first certificate as DER; a file that is not PEM is taken as DER.
bool ToDer(const std::vector<BYTE>& file, std::vector<BYTE>& der)
{
    static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
    const char* text = reinterpret_cast<const char*>(file.data());
    if (file.size() < sizeof kBegin || std::memcmp(text, kBegin, sizeof kBegin - 1) != 0) {
        der = file;
        return true;
    }
    DWORD size = 0;
    const DWORD length = static_cast<DWORD>(file.size());
    if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) != 0;
}

// Deletes the certificate equal to der from the current user's "ROOT"
// store in the registry, where the add writes it. The registry store itself:
// Wine's "ROOT" system store reports a delete done without writing it back.
int Remove(const std::vector<BYTE>& der)
{
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!cert)
        return Fail("CertCreateCertificateContext");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                     L"ROOT");
    if (!store) {
        CertFreeCertificateContext(cert);
        return Fail("CertOpenStore");
    }
    int rc = 0;
    // Deleting frees the found context, so each search starts over.
    while (PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert,
                                                             nullptr)) {
        if (!CertDeleteCertificateFromStore(found)) {
            rc = Fail("CertDeleteCertificateFromStore");
            break;
        }
    }
    CertCloseStore(store, 0);
    CertFreeCertificateContext(cert);
    return rc;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool remove = argc == 3 && std::wcscmp(argv[1], L"--remove") == 0;
    if (argc != 2 && !remove) {
        std::fprintf(stderr, "usage: tg-trust-ca [--remove] CERTIFICATE-FILE\n");
        return 2;
    }
    std::vector<BYTE> file, der;
    if (!ReadWhole(argv[argc - 1], file))
        return Fail("reading the certificate file");
    if (!ToDer(file, der))
        return Fail("CryptStringToBinaryA");
    if (remove)
        return Remove(der);
    if (!CertAddEncodedCertificateToSystemStoreW(L"ROOT", der.data(), static_cast<DWORD>(der.size())))
        return Fail("CertAddEncodedCertificateToSystemStoreW");
    return 0;
}

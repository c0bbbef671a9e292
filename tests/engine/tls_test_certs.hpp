// The certificates tests/support/make_test_certs.sh minted for this test run
// (the ctest fixture tls_test_certs), and the trust of their CA: in the
// system's "ROOT" store of the test prefix under Wine, as a publisher's
// player would have it; natively through SSL_CERT_FILE, which OpenSSL's
// default paths honour.
#pragma once

#include "http_test_server.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>

#include <openssl/pem.h>
#include <openssl/x509.h>
#endif

namespace tg::test {

// A file of the run's certificates, by name ("ca.pem", "server.key", ...).
inline std::string test_cert(std::string const& name)
{
#ifdef _WIN32
    // The build folder is a host path: Wine shows the host's root as Z:.
    return "Z:" TG_BINARY_DIR "/tls-certs/" + name;
#else
    return TG_BINARY_DIR "/tls-certs/" + name;
#endif
}

// The identity of a TLS test server: "server" (valid for 127.0.0.1),
// "wrong-host", "expired" or "untrusted".
inline http_test_server::tls_identity test_identity(std::string const& name)
{
    return {test_cert(name + ".pem"), test_cert(name + ".key")};
}

// Trusts the test CA from here on; false when it could not. Call it before
// a session or component makes its TLS context.
inline bool trust_test_ca()
{
#ifdef _WIN32
    std::ifstream in(test_cert("ca.pem"), std::ios::binary);
    std::string const pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BIO* bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
    X509* x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!x) return false;
    unsigned char* der = nullptr;
    int const size = i2d_X509(x, &der);
    X509_free(x);
    if (size <= 0) return false;
    BOOL const ok = CertAddEncodedCertificateToSystemStoreW(L"ROOT", der, DWORD(size));
    OPENSSL_free(der);
    return ok != FALSE;
#else
    return setenv("SSL_CERT_FILE", test_cert("ca.pem").c_str(), 1) == 0;
#endif
}

} // namespace tg::test

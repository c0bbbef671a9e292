// Win32 side of add_system_trusted_roots: the certificates of the system's
// "ROOT" store, added to (not replacing) the context's store, as the engine
// does for its own TLS context. OpenSSL on Windows has no default paths that
// hold the system's roots.
#ifdef _WIN32

#include "engine/tls_context.hpp"

#include <windows.h>
#include <wincrypt.h>

// After wincrypt.h: OpenSSL's headers undefine the names the two share.
#include <openssl/ssl.h>
#include <openssl/err.h>
#include <openssl/x509.h>

namespace tg {

namespace {

struct system_store
{
    HCERTSTORE h = CertOpenSystemStoreW(0, L"ROOT");
    ~system_store()
    {
        if (h) CertCloseStore(h, 0);
    }
    system_store() = default;
    system_store(system_store const&) = delete;
    system_store& operator=(system_store const&) = delete;
};

} // namespace

int add_system_trusted_roots(ssl_ctx_st* ctx)
{
    system_store store;
    if (!store.h) return 0;
    X509_STORE* x509_store = SSL_CTX_get_cert_store(ctx);
    int added = 0;
    // The enumeration frees each context when it hands out the next one.
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.h, nullptr); c;
         c = CertEnumCertificatesInStore(store.h, c)) {
        unsigned char const* der = c->pbCertEncoded;
        X509* x = d2i_X509(nullptr, &der, long(c->cbCertEncoded));
        if (!x) continue; // a certificate OpenSSL cannot read is not trusted
        if (X509_STORE_add_cert(x509_store, x) == 1) ++added;
        X509_free(x);
    }
    ERR_clear_error(); // duplicates of the store's own certificates
    return added;
}

} // namespace tg

#endif

// The component's one TLS client context: TLS 1.2 or later, the server's
// certificate always checked against the system's trusted roots. Made once,
// the first time a source needs it, and shared by every TLS connection.
#pragma once

#include <memory>

struct ssl_ctx_st;

namespace tg {

class tls_client_context
{
public:
    // Throws std::system_error (OpenSSL's reason) when the context cannot be
    // made. Any thread; reads the system's trusted roots (on Windows the
    // "ROOT" system store, elsewhere OpenSSL's default paths, which honour
    // SSL_CERT_FILE).
    tls_client_context();
    ~tls_client_context();
    tls_client_context(tls_client_context const&) = delete;
    tls_client_context& operator=(tls_client_context const&) = delete;

    ssl_ctx_st* native_handle() const;

private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

// Adds the system's trusted root certificates to the context's store (one
// side per platform: tls_roots_win32.cpp, tls_roots_posix.cpp). Returns how
// many were added where that is known, else -1.
int add_system_trusted_roots(ssl_ctx_st* ctx);

} // namespace tg

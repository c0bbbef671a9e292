// POSIX side of add_system_trusted_roots: OpenSSL's default paths.
#ifndef _WIN32

#include "engine/tls_context.hpp"

#include <openssl/ssl.h>

namespace tg {

int add_system_trusted_roots(ssl_ctx_st* ctx)
{
    SSL_CTX_set_default_verify_paths(ctx);
    return -1;
}

} // namespace tg

#endif

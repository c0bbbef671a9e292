#include "engine/tls_context.hpp"

#include <boost/asio/ssl/context.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <system_error>

namespace tg {

struct tls_client_context::impl
{
    boost::asio::ssl::context ctx{boost::asio::ssl::context::tls_client};
};

tls_client_context::tls_client_context() : m_impl(std::make_unique<impl>())
{
    SSL_CTX* ctx = m_impl->ctx.native_handle();
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1)
        throw std::system_error(int(ERR_get_error()), boost::asio::error::get_ssl_category(), "TLS 1.2 minimum");
    // Every connection verifies the peer; the host name is checked per
    // connection (tls_channel), against the URL it was made for.
    m_impl->ctx.set_verify_mode(boost::asio::ssl::verify_peer);
    add_system_trusted_roots(ctx);
}

tls_client_context::~tls_client_context() = default;

ssl_ctx_st* tls_client_context::native_handle() const { return m_impl->ctx.native_handle(); }

} // namespace tg

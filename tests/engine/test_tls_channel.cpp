// The TLS side of a Direct-HTTP connection without sockets: a client channel
// against an OpenSSL server in memory, with the run's test certificates.
// What reaches the response machine must not depend on how the socket cut
// the ciphertext.
#include "engine/tls_receive.hpp"
#include "tls_test_certs.hpp"
#include "web_protocol_recorder.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/context.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <memory>

namespace tg {
namespace {

using test::delivered_block;
using test::web_protocol_recorder;

// An OpenSSL server in memory with one of the run's identities.
class memory_server
{
public:
    explicit memory_server(std::string const& identity)
    {
        auto const id = test::test_identity(identity);
        m_ctx.use_certificate_chain_file(id.certificate_chain);
        m_ctx.use_private_key_file(id.private_key, boost::asio::ssl::context::pem);
        m_ssl.reset(SSL_new(m_ctx.native_handle()));
        SSL_set_bio(m_ssl.get(), BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
        BIO_set_mem_eof_return(SSL_get_rbio(m_ssl.get()), -1);
        SSL_set_accept_state(m_ssl.get());
    }
    SSL* ssl() const { return m_ssl.get(); }
    void feed(std::string const& bytes) { BIO_write(SSL_get_rbio(ssl()), bytes.data(), int(bytes.size())); }
    std::string output()
    {
        BIO* out = SSL_get_wbio(ssl());
        std::string s(BIO_ctrl_pending(out), '\0');
        if (!s.empty()) BIO_read(out, s.data(), int(s.size()));
        return s;
    }
    // The ciphertext of `plain`, written `record` bytes at a time so that
    // it spans many records.
    std::string encrypt(std::string const& plain, std::size_t record)
    {
        for (std::size_t i = 0; i < plain.size(); i += record)
            SSL_write(ssl(), plain.data() + i, int(std::min(record, plain.size() - i)));
        return output();
    }
    // The host name the client sent (SNI), or empty.
    std::string server_name() const
    {
        char const* n = SSL_get_servername(ssl(), TLSEXT_NAMETYPE_host_name);
        return n ? n : "";
    }

private:
    boost::asio::ssl::context m_ctx{boost::asio::ssl::context::tls_server};
    struct ssl_free
    {
        void operator()(SSL* s) const { SSL_free(s); }
    };
    std::unique_ptr<SSL, ssl_free> m_ssl;
};

// Runs the handshake to its end either way; the client's outcome.
bool handshake(tls_channel& client, memory_server& server, lt::error_code& ec)
{
    for (int round = 0; round < 10; ++round) {
        bool const done = client.handshake(ec);
        if (ec) return false;
        server.feed(client.take_output());
        ERR_clear_error();
        SSL_do_handshake(server.ssl());
        std::string const back = server.output();
        if (done && back.empty()) return true;
        client.feed(back.data(), back.size());
    }
    return false;
}

class TlsChannel : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(test::trust_test_ca()); }
    std::unique_ptr<tls_client_context> ctx = std::make_unique<tls_client_context>();
};

TEST_F(TlsChannel, RefusedCertificatesSayWhy)
{
    struct row
    {
        char const* identity;
        char const* host;
        char const* reason; // empty: accepted
    } const rows[] = {
        {"server", "127.0.0.1", ""},
        {"server", "localhost", ""},
        {"untrusted", "127.0.0.1", "certificate verify failed: unable to get local issuer certificate"},
        {"wrong-host", "localhost", "certificate verify failed: hostname mismatch"},
        {"server", "files.example.invalid", "certificate verify failed: hostname mismatch"},
        {"server", "127.0.0.2", "certificate verify failed: IP address mismatch"},
        {"expired", "127.0.0.1", "certificate verify failed: certificate has expired"},
    };
    for (auto const& r : rows) {
        memory_server server(r.identity);
        tls_channel client(*ctx, r.host);
        lt::error_code ec;
        bool const ok = handshake(client, server, ec);
        EXPECT_EQ(ok, *r.reason == 0) << r.identity << " for " << r.host << ": " << client.failure_reason();
        EXPECT_EQ(client.failure_reason(), r.reason) << r.identity << " for " << r.host;
        EXPECT_EQ(client.certificate_refused(), *r.reason != 0) << r.identity << " for " << r.host;
    }
}

TEST_F(TlsChannel, NameGoesOutForHostsNeverForAddresses)
{
    for (std::string const host : {"localhost", "127.0.0.1"}) {
        memory_server server("server");
        tls_channel client(*ctx, host);
        lt::error_code ec;
        ASSERT_TRUE(handshake(client, server, ec)) << host << ": " << client.failure_reason();
        EXPECT_EQ(server.server_name(), host == "localhost" ? host : "") << host;
    }
}

TEST_F(TlsChannel, CloseNotifyReadsAsTheEnd)
{
    memory_server server("server");
    tls_channel client(*ctx, "127.0.0.1");
    lt::error_code ec;
    ASSERT_TRUE(handshake(client, server, ec));
    std::string const c = server.encrypt("abc", 3);
    SSL_shutdown(server.ssl());
    std::string const all = c + server.output();
    client.feed(all.data(), all.size());
    char buf[16];
    EXPECT_EQ(client.read(buf, sizeof buf, ec), 3u);
    EXPECT_FALSE(ec);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(client.read(buf, sizeof buf, ec), 0u);
    EXPECT_EQ(ec, boost::asio::error::eof);
}

// Pieces of 32 bytes, blocks of 16, as the plain response tests use.
struct small_torrent
{
    lt::file_storage fs;
    torrent_geometry geo;
    small_torrent()
    {
        fs.add_file("g.bin", 100);
        fs.set_piece_length(32);
        fs.set_num_pieces(4);
        geo.piece_length = 32;
        geo.block_size = 16;
        geo.name = "g.bin";
        geo.files = &fs;
    }
};

std::string body_of(int first, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) s += char('a' + (first + i) % 26);
    return s;
}

std::string response_206(int first, int last, std::string const& body)
{
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last)
        + "/100\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(TlsChannel, ResponsesSplitAtEveryChunkSizeReachTheMachineWhole)
{
    small_torrent const t;
    std::string const plain = response_206(0, 31, body_of(0, 32)) + response_206(32, 63, body_of(32, 32));
    memory_server server("server");
    tls_channel client(*ctx, "127.0.0.1");
    lt::error_code ec;
    ASSERT_TRUE(handshake(client, server, ec)) << client.failure_reason();
    // Records of 11 bytes: headers and blocks both end inside records.
    // The first run only measures the ciphertext; the client takes it in
    // like any other, as the records must arrive in order.
    std::string const first = server.encrypt(plain, 11);
    std::size_t const size = first.size();
    client.feed(first.data(), first.size());
    std::vector<char> buffer(64);
    while (client.read(buffer.data(), buffer.size(), ec) > 0) {
    }
    ASSERT_FALSE(ec);
    for (std::size_t chunk = 1; chunk <= size + 1; ++chunk) {
        web_protocol_recorder rec;
        rec.give_destinations({32, 32, 32, 4});
        web_protocol w("https://127.0.0.1/g.bin", t.geo);
        w.write_request(lt::peer_request{lt::piece_index_t(0), 0, 32}, request_settings{"UA", 0, "", ""});
        w.write_request(lt::peer_request{lt::piece_index_t(1), 0, 32}, request_settings{"UA", 0, "", ""});
        std::string const cipher = server.encrypt(plain, 11);
        for (std::size_t i = 0; i < cipher.size(); i += chunk) {
            client.feed(cipher.data() + i, std::min(chunk, cipher.size() - i));
            ec = receive_plaintext(client, w, rec, buffer.data(), buffer.size(), [&] { return rec.disconnects > 0; });
            ASSERT_FALSE(ec) << "chunk " << chunk;
        }
        ASSERT_EQ(rec.blocks.size(), 4u) << "chunk " << chunk;
        EXPECT_EQ(rec.blocks[0], (delivered_block{0, 0, body_of(0, 16)})) << chunk;
        EXPECT_EQ(rec.blocks[1], (delivered_block{0, 16, body_of(16, 16)})) << chunk;
        EXPECT_EQ(rec.blocks[2], (delivered_block{1, 0, body_of(32, 16)})) << chunk;
        EXPECT_EQ(rec.blocks[3], (delivered_block{1, 16, body_of(48, 16)})) << chunk;
        EXPECT_EQ(rec.payload, 64) << chunk;
        EXPECT_EQ(rec.disconnects, 0) << chunk;
        EXPECT_TRUE(rec.guards_intact()) << chunk;
        EXPECT_GT(rec.in_place_blocks, 0) << chunk;
        if (HasFailure()) return;
    }
}

} // namespace
} // namespace tg

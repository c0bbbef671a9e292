// Moves what a tls_channel can decrypt into a connection's response machine:
// body bytes straight into their piece where the machine gives a place,
// everything else through the connection's read buffer, as a plain socket
// read would bring them.
#pragma once

#include "engine/tls_channel.hpp"
#include "engine/web_protocol.hpp"

#include <cstddef>

namespace tg {

// Decrypts until the channel wants more ciphertext (returns no error), the
// TLS layer ends (returns its error: eof at the server's close_notify, after
// handing it to the machine), or `ended()` says the machine ended the
// connection. Network thread, component lock held.
template <class Ended>
lt::error_code receive_plaintext(
    tls_channel& tls, web_protocol& protocol, web_protocol_host& host, char* buffer, std::size_t size, Ended ended)
{
    for (;;) {
        lt::span<char> const in_place = protocol.read_destination(host);
        bool const placed = !in_place.empty();
        lt::error_code ec;
        std::size_t const got = placed ? tls.read(in_place.data(), std::size_t(in_place.size()), ec) : tls.read(buffer, size, ec);
        if (got == 0 && !ec) return {};
        if (placed)
            protocol.on_receive_in_place(ec, int(got), host);
        else
            protocol.on_receive(ec, buffer, int(got), host);
        if (ec || ended()) return ec;
    }
}

} // namespace tg

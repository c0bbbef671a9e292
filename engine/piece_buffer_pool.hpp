// Piece-sized buffers that the Direct-HTTP connections assemble pieces in,
// reused from piece to piece. A fresh buffer for every piece cost more than
// all the copies together: each one was zero-filled and, at piece sizes, a
// new mapping whose every page faulted on first touch.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tg {

// One buffer; its bytes are left as they are (never zero-filled).
struct piece_buffer
{
    std::unique_ptr<char[]> bytes;
    int capacity = 0;
    char* data() const { return bytes.get(); }
    explicit operator bool() const { return bytes != nullptr; }
};

// Threads: used under the component's lock only.
class piece_buffer_pool
{
public:
    // Buffers of `size` bytes from now on; free buffers of another size go.
    void reset(int size);
    // A buffer of the pool's size, reused when one is free.
    piece_buffer take();
    // Keeps `b` for the next take, unless it is of another size or `spare`
    // buffers are already free.
    void give_back(piece_buffer b);
    // How many free buffers are kept: what the connections can have
    // outstanding at once, so the steady state allocates nothing.
    void set_spare(std::size_t spare);
    std::size_t free_buffers() const { return m_free.size(); }

private:
    int m_size = 0;
    std::size_t m_spare = 8;
    std::vector<piece_buffer> m_free;
};

} // namespace tg

// HandleOwner: the one owner of a handle that a single function frees. The
// owners of win_handles.h and win_gdi.h are this template over a few lines
// of traits each. Move-only; any thread, one at a time.
#pragma once

// Traits give the handle type, the value of an empty owner, which values
// are handles, and the call that frees one:
//   using Handle = ...;
//   static Handle Empty();
//   static bool IsValid(Handle h);
//   static void Close(Handle h);
template <typename Traits> class HandleOwner
{
public:
    using Handle = typename Traits::Handle;

    explicit HandleOwner(Handle h = Traits::Empty()) : m_h(h) {}
    ~HandleOwner() { Close(); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    HandleOwner(HandleOwner&& other) noexcept : m_h(other.Detach()) {}
    HandleOwner& operator=(HandleOwner&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_h = other.Detach();
        }
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(m_h); }
    Handle Get() const { return m_h; }
    // Hands the handle to whoever frees it from now on; the owner is empty.
    Handle Detach()
    {
        const Handle h = m_h;
        m_h = Traits::Empty();
        return h;
    }
    void Close()
    {
        if (IsValid())
            Traits::Close(m_h);
        m_h = Traits::Empty();
    }

private:
    Handle m_h;
};

// Owners for GDI: objects (DeleteObject), memory DCs (DeleteDC), a window's
// DC (GetDC, ReleaseDC) and an object selected into a DC for a while. The
// DC of a WM_PAINT is framework's CPaintDC. GDI objects belong to no
// thread, but one DC is used by one thread at a time.
#pragma once
#include <windows.h>

#include "win_handle_owner.h"

namespace win_handles {

template <typename T> struct GdiObjectTraits
{
    using Handle = T;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};

struct MemoryDcTraits
{
    using Handle = HDC;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};

} // namespace win_handles

// A brush, pen, font or bitmap; it must not be selected into a DC when it ends.
template <typename T> using GdiObject = HandleOwner<win_handles::GdiObjectTraits<T>>;
// A DC of CreateCompatibleDC (or CreateDC), deleted.
using MemoryDc = HandleOwner<win_handles::MemoryDcTraits>;

// A window's DC, given back to the window when the scope ends. A null
// window gives the screen's DC.
class WindowDc
{
public:
    explicit WindowDc(HWND hWnd) : m_hWnd(hWnd), m_dc(::GetDC(hWnd)) {}
    ~WindowDc()
    {
        if (m_dc)
            ::ReleaseDC(m_hWnd, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const { return m_dc; } // null when the window has none to give

private:
    HWND m_hWnd;
    HDC m_dc;
};

// An object selected into a DC; the one it replaced goes back in when the
// owner ends, so the object can be deleted after it.
class SelectedObject
{
public:
    SelectedObject() = default;
    SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() { Close(); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    SelectedObject(SelectedObject&& other) noexcept : m_dc(other.m_dc), m_old(other.m_old)
    {
        other.m_dc = nullptr;
        other.m_old = nullptr;
    }
    SelectedObject& operator=(SelectedObject&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_dc = other.m_dc;
            m_old = other.m_old;
            other.m_dc = nullptr;
            other.m_old = nullptr;
        }
        return *this;
    }

    HGDIOBJ Get() const { return m_old; } // the object put back; null when none was replaced
    void Close()
    {
        if (m_dc && m_old)
            ::SelectObject(m_dc, m_old);
        m_dc = nullptr;
        m_old = nullptr;
    }

private:
    HDC m_dc = nullptr;
    HGDIOBJ m_old = nullptr;
};

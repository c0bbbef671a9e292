// CPaintDC: owner of the device context of one WM_PAINT (BeginPaint in the
// constructor, EndPaint in the destructor). The window's thread, inside its
// WM_PAINT handler only.
#pragma once
#include "framework/wnd.h"

class CPaintDC
{
public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    PAINTSTRUCT m_ps = {};
    HDC m_hDC = nullptr;

private:
    HWND m_hWnd;
};

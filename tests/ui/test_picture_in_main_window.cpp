// The shipped picture in the main window, placed by the window itself: read back from the window's drawing, and saved as a
// screenshot (build folder, screenshots/main_window_picture.bmp).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/host_path.h"
#include "ui/tollgrove_dlg.h"
#include "resource.h"
#include "window_messages.h"

namespace {

// A window's pixels, 32 bits each, top-down.
struct Capture
{
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    COLORREF At(int x, int y) const
    {
        uint32_t v = pixels[size_t(y) * width + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
};

BITMAPINFOHEADER Header(const Capture& c)
{
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof(h);
    h.biWidth = c.width;
    h.biHeight = -c.height; // top-down
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    return h;
}

// The window as it has drawn itself (its own surface, so other programs'
// windows on the same display cannot show through).
Capture CaptureWindow(HWND hwnd)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    Capture c;
    c.width = r.right - r.left;
    c.height = r.bottom - r.top;
    c.pixels.resize(size_t(c.width) * c.height);
    HDC window = GetWindowDC(hwnd);
    HDC mem = CreateCompatibleDC(window);
    BITMAPINFO bi = {};
    bi.bmiHeader = Header(c);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(window, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, c.width, c.height, window, 0, 0, SRCCOPY);
    GdiFlush();
    std::memcpy(c.pixels.data(), bits, c.pixels.size() * 4);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(hwnd, window);
    return c;
}

bool SaveBmp(const Capture& c, const std::wstring& path)
{
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = Header(c);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = DWORD(file.bfOffBits + c.pixels.size() * 4);
    std::vector<uint32_t> opaque(c.pixels);
    for (uint32_t& p : opaque)
        p |= 0xFF000000u; // GDI leaves alpha 0, which viewers show as transparent
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD put = 0;
    bool ok = WriteFile(h, &file, sizeof(file), &put, nullptr) && WriteFile(h, &info, sizeof(info), &put, nullptr) &&
              WriteFile(h, opaque.data(), DWORD(opaque.size() * 4), &put, nullptr);
    CloseHandle(h);
    return ok;
}

// The main window itself, whose initialisation places, loads and plays the
// picture; it captures itself once painted and once its first attempt (a
// failing .torrent fetch here) has ended, and closes.
class PictureDialog : public CTollgroveDlg
{
public:
    PictureDialog()
    {
        // An install folder kept from an earlier attempt: no question.
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_strInstallPath = temp;
        m_strInstallPath.pop_back();
    }
    SIZE pictureSize = {};
    Capture shot;
    RECT pictureOnScreen = {};
    RECT windowOnScreen = {};
    POINT pictureInClient = {};

protected:
    BOOL OnInitDialog() override
    {
        const BOOL r = CTollgroveDlg::OnInitDialog();
        SetTimer(1, 700);
        return r;
    }
    void OnTimer(UINT_PTR)
    {
        if (m_bBusy)
            return; // the next tick
        KillTimer(1);
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        GetWindowRect(&windowOnScreen);
        m_picture.GetWindowRect(&pictureOnScreen);
        pictureInClient = {pictureOnScreen.left, pictureOnScreen.top};
        ScreenToClient(&pictureInClient);
        pictureSize = m_picture.GetPictureSize();
        shot = CaptureWindow(m_hWnd);
        EndDialog(IDOK);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PictureDialog, CTollgroveDlg)
    ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(PictureInMainWindow, ShowsTheLogoWhereTheWindowPutsIt)
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    PictureDialog dlg;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    ASSERT_EQ(dlg.pictureSize.cx, 77) << "the shipped picture did not load";
    ASSERT_EQ(dlg.pictureSize.cy, 39);
    ASSERT_FALSE(dlg.shot.pixels.empty());

    const std::wstring dir = HostPath(TG_BINARY_DIR "/screenshots");
    CreateDirectoryW(dir.c_str(), nullptr);
    EXPECT_TRUE(SaveBmp(dlg.shot, dir + L"\\main_window_picture.bmp"));

    // The control sits at (13, 160) of the client area, 77 x 39.
    EXPECT_EQ(dlg.pictureInClient.x, 13);
    EXPECT_EQ(dlg.pictureInClient.y, 160);
    EXPECT_EQ(dlg.pictureOnScreen.right - dlg.pictureOnScreen.left, 77);
    EXPECT_EQ(dlg.pictureOnScreen.bottom - dlg.pictureOnScreen.top, 39);
    const int x = dlg.pictureOnScreen.left - dlg.windowOnScreen.left;
    const int y = dlg.pictureOnScreen.top - dlg.windowOnScreen.top;
    EXPECT_EQ(dlg.shot.At(x, y + 19), RGB(20, 95, 15)) << "the badge's edge";
    EXPECT_EQ(dlg.shot.At(x + 3, y + 19), RGB(40, 150, 30)) << "the badge";
    EXPECT_EQ(dlg.shot.At(x + 40, y + 5), RGB(255, 255, 255)) << "the T of TOLL";
}

} // namespace

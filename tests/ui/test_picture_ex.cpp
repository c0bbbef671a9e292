// The picture control under Wine: real windows, the real OLE picture
// loader, the real animation thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>
#include <vector>

#include "framework/wnd.h"
#include "gif_builder.h"
#include "picture_ex.h"
#include "../support/pump_until.h"
#include "resource.h"
#include "window_messages.h"

namespace {

bool PumpUntil(const std::function<bool()>& done)
{
    return tg::test::pump_until(done, std::chrono::seconds(10));
}

HGLOBAL ToGlobal(const std::vector<uint8_t>& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* p = h ? GlobalLock(h) : nullptr;
    if (!p)
        return h;
    std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

// A 24-bit bottom-up BMP of one colour.
std::vector<uint8_t> Bitmap(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    const int stride = (width * 3 + 3) & ~3;
    const uint32_t pixels = uint32_t(stride * height);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + pixels;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = pixels;
    std::vector<uint8_t> out(file.bfSize, 0);
    std::memcpy(out.data(), &file, sizeof(file));
    std::memcpy(out.data() + sizeof(file), &info, sizeof(info));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = out.data() + file.bfOffBits + y * stride + x * 3;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    return out;
}

BOOL CALLBACK FindTooltip(HWND h, LPARAM out)
{
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (lstrcmpW(cls, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(out) = h;
    return FALSE;
}

// A popup parent (whose WM_COMMAND the framework reflects to the picture)
// with the picture control as its child 1017, as in the main window.
class PictureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(parent.CreateEx(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, RECT{50, 50, 450, 350}, nullptr, 0));
        ASSERT_TRUE(picture.CreateEx(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, RECT{13, 160, 33, 190},
                                     parent.m_hWnd, IDC_PICTURE));
    }

    SIZE WindowSize() const
    {
        RECT r;
        ::GetWindowRect(picture.m_hWnd, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }

    BOOL Load(const std::vector<uint8_t>& bytes)
    {
        HGLOBAL h = ToGlobal(bytes);
        BOOL ok = picture.LoadFromMemory(h, DWORD(bytes.size()));
        GlobalFree(h); // the control keeps nothing of the caller's block
        return ok;
    }

    CWnd parent;
    CPictureEx picture;
};

TEST_F(PictureTest, ShippedPictureLoadsStillAt77By39)
{
    EXPECT_NE(picture.GetStyle() & SS_NOTIFY, 0u) << "binding makes the control report clicks";
    ASSERT_TRUE(picture.LoadFromResource());
    EXPECT_EQ(picture.GetPictureSize().cx, 77);
    EXPECT_EQ(picture.GetPictureSize().cy, 39);
    EXPECT_EQ(WindowSize().cx, 77);
    EXPECT_EQ(WindowSize().cy, 39);
    EXPECT_TRUE(picture.HasStillPicture());
    EXPECT_EQ(picture.GetFrameCount(), 0u);
    EXPECT_EQ(picture.GetBufferPixel(0, 0), GetSysColor(COLOR_MENU)) << "the buffer starts as the menu colour";

    EXPECT_TRUE(picture.Play());
    EXPECT_FALSE(picture.IsAnimating());
    // The transparent corner keeps the buffer's fill; the badge is drawn.
    EXPECT_EQ(picture.GetBufferPixel(0, 0), GetSysColor(COLOR_MENU));
    EXPECT_EQ(picture.GetBufferPixel(0, 19), RGB(20, 95, 15));
    EXPECT_EQ(picture.GetBufferPixel(3, 19), RGB(40, 150, 30));
    EXPECT_EQ(picture.GetBufferPixel(18, 15), RGB(40, 150, 30)) << "the arrow";
}

TEST_F(PictureTest, ThreeFrameGifAnimatesAndWraps)
{
    GifBuilder g(30, 20);
    g.Application()
        .Control(0, 0)
        .Image(0, 0, 30, 20, 200)
        .Comment("second")
        .Control(3, 2)
        .Image(5, 5, 10, 10, 50)
        .Control(0, 3)
        .Image(10, 2, 8, 8, 100)
        .Trailer();
    ASSERT_TRUE(Load(g.bytes));
    EXPECT_EQ(picture.GetFrameCount(), 3u);
    EXPECT_FALSE(picture.HasStillPicture());
    EXPECT_EQ(WindowSize().cx, 30);
    EXPECT_EQ(WindowSize().cy, 20);

    EXPECT_FALSE(picture.Play()) << "an animation answers FALSE although it runs";
    EXPECT_TRUE(picture.IsAnimating());
    bool seen[3] = {false, false, false};
    bool wrapped = false;
    EXPECT_TRUE(PumpUntil([&] {
        UINT i = picture.GetFrameIndex();
        if (i < 3) {
            wrapped = wrapped || (seen[2] && i == 0);
            seen[i] = true;
        }
        return seen[1] && seen[2] && wrapped;
    })) << "the frame index goes 0, 1, 2 and back to 0";

    EXPECT_TRUE(picture.StopAnimation());
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(picture.GetFrameCount(), 3u) << "a stop keeps the frames";
    EXPECT_FALSE(picture.Play());
    EXPECT_TRUE(picture.IsAnimating()) << "and Play starts them again";
}

// Frame 0 covers the screen, frame 1 a corner with the disposal under test
// (100 ms), frame 2 a dot held for 655 s: once the dot shows, the corner
// shows what frame 1's disposal left.
TEST_F(PictureTest, DisposalsOfAFrameAfterItsDelay)
{
    const COLORREF base = RGB(7, 7, 7), corner = RGB(9, 9, 9), dot = RGB(11, 11, 11);
    struct Case
    {
        uint8_t disposal;
        COLORREF left;
    };
    const Case cases[] = {
        {0, corner}, {1, corner}, {2, GetSysColor(COLOR_BTNFACE)}, {3, base}, {4, corner}, {7, corner},
    };
    for (const Case& c : cases) {
        GifBuilder g(20, 20);
        g.Control(0, 0).Image(0, 0, 20, 20, 7).Control(0, c.disposal).Image(0, 0, 8, 8, 9);
        g.Control(65535, 0).Image(15, 15, 2, 2, 11).Trailer();
        ASSERT_TRUE(Load(g.bytes));
        EXPECT_FALSE(picture.Play());
        ASSERT_TRUE(PumpUntil([&] { return picture.GetBufferPixel(15, 15) == dot; })) << int(c.disposal);
        EXPECT_EQ(picture.GetBufferPixel(3, 3), c.left) << "disposal " << int(c.disposal);
        EXPECT_EQ(picture.GetBufferPixel(12, 12), base) << "disposal " << int(c.disposal);
        EXPECT_EQ(picture.GetFrameIndex(), 2u);
        EXPECT_TRUE(picture.StopAnimation());
    }
}

TEST_F(PictureTest, StopDuringLongDelayEndsThreadAtOnce)
{
    GifBuilder g(20, 20);
    g.Control(65535, 0).Image(0, 0, 20, 20, 7).Control(65535, 0).Image(0, 0, 20, 20, 9).Trailer();
    ASSERT_TRUE(Load(g.bytes));
    EXPECT_FALSE(picture.Play());
    ASSERT_TRUE(picture.IsAnimating());
    // The first frame is drawn; the thread then waits 655 s.
    ASSERT_TRUE(PumpUntil([&] { return picture.GetBufferPixel(10, 10) == RGB(7, 7, 7); }));
    // A join within its 5 s limit: only the stop event can end that wait.
    EXPECT_TRUE(picture.StopAnimation());
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(picture.GetFrameIndex(), 0u);
}

TEST_F(PictureTest, NonGifShowsStillAtNaturalSize)
{
    ASSERT_TRUE(Load(Bitmap(50, 30, 10, 200, 90)));
    EXPECT_EQ(picture.GetPictureSize().cx, 50);
    EXPECT_EQ(picture.GetPictureSize().cy, 30);
    EXPECT_EQ(WindowSize().cx, 50);
    EXPECT_EQ(WindowSize().cy, 30);
    EXPECT_TRUE(picture.Play());
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(picture.GetBufferPixel(25, 15), RGB(10, 200, 90));

    // A GIF of another version is not parsed as GIF: OLE gets it whole.
    GifBuilder other(8, 8, true, "GIF88a");
    other.Image(0, 0, 8, 8, 1).Trailer();
    const bool loaded = Load(other.bytes);
    EXPECT_EQ(picture.GetFrameCount(), 0u);
    // OLE's decoder reads "GIF8" and takes the rest like any GIF: a still
    // picture of 8 x 8 at its natural size, never an animation of ours.
    ASSERT_TRUE(loaded);
    EXPECT_EQ(picture.GetPictureSize().cx, 8);
    EXPECT_EQ(picture.GetPictureSize().cy, 8);
    EXPECT_TRUE(picture.Play());
    EXPECT_FALSE(picture.IsAnimating());
}

TEST_F(PictureTest, BrokenDataFailsAndLeavesTheControlEmpty)
{
    GifBuilder none(10, 10);
    none.Trailer();
    EXPECT_FALSE(Load(none.bytes)) << "no graphic block";
    GifBuilder cut(10, 10);
    cut.Control(0, 0).Image(0, 0, 10, 10, 1);
    cut.bytes.pop_back();
    EXPECT_FALSE(Load(cut.bytes)) << "image runs past the end";
    EXPECT_FALSE(Load({'G', 'I', 'F', '8', '9', 'a', 1, 0})) << "header cut short";
    EXPECT_FALSE(Load({'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}));
    EXPECT_FALSE(picture.Play());
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(picture.GetBufferPixel(0, 0), CLR_INVALID);
}

TEST_F(PictureTest, FramesThatDoNotDecodeAreDropped)
{
    GifBuilder g(10, 10);
    g.Control(0, 0).Image(0, 0, 10, 10, 1).Control(0, 0);
    // An image block whose data no decoder takes (code size 15).
    g.Raw({0x2C, 0, 0, 0, 0, 10, 0, 10, 0, 0x00, 15, 2, 0xFF, 0xFF, 0}).Trailer();
    ASSERT_TRUE(Load(g.bytes));
    EXPECT_EQ(picture.GetFrameCount(), 1u);
    // One frame left and no still picture: nothing to show, no thread.
    EXPECT_FALSE(picture.Play());
    EXPECT_FALSE(picture.IsAnimating());
}

TEST_F(PictureTest, ClickPostsPictureClickedToNotifyWindow)
{
    ASSERT_TRUE(picture.LoadFromResource());
    picture.Play();
    // No notify window: a click does nothing.
    picture.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    picture.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));

    picture.m_hNotifyWnd = parent.m_hWnd;
    picture.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    picture.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, parent.m_hWnd);
    EXPECT_EQ(msg.message, UINT(WM_PICTURE_CLICKED));
    EXPECT_NE(msg.message, UINT(WM_WORKER_FINISHED));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 0);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE)) << "one message per click";
}

TEST_F(PictureTest, HandCursorAndTooltip)
{
    ASSERT_TRUE(picture.LoadFromResource());
    picture.Play();
    picture.SetupTooltip();
    picture.SetupTooltip(); // a second call adds no second tool
    EXPECT_EQ(picture.SendMessage(WM_SETCURSOR, WPARAM(picture.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

    HWND tip = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindTooltip, LPARAM(&tip));
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    wchar_t text[80] = {};
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = picture.m_hWnd;
    ti.uId = 1;
    ti.lpszText = text;
    ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, LPARAM(&ti)));
    EXPECT_EQ(ti.rect.right, 77) << "the tool covers the picture";
    EXPECT_EQ(ti.rect.bottom, 39);
    text[0] = 0;
    ti.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 80, LPARAM(&ti));
    EXPECT_STREQ(text, L"Korvane Corp.");
}

} // namespace

#include "picture_ex.h"

#include <process.h>

#include <cstring>

#include "framework/paint_dc.h"
#include "resource.h"
#include "window_messages.h"

namespace {

const wchar_t kTooltipText[] = L"Korvane Corp.";
const UINT kTooltipId = 1;
const DWORD kJoinMs = 5000;

// Owner of a CRITICAL_SECTION and its scoped holder.
class Lock
{
public:
    Lock() { InitializeCriticalSection(&m_cs); }
    ~Lock() { DeleteCriticalSection(&m_cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class Hold
{
public:
    explicit Hold(Lock& lock) : m_lock(lock) { m_lock.Enter(); }
    ~Hold() { m_lock.Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Lock& m_lock;
};

// A memory device context with a bitmap selected into it; frees both.
struct MemoryBitmap
{
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;

    bool Create(HDC compatible, int width, int height)
    {
        dc = CreateCompatibleDC(compatible);
        if (!dc)
            return false;
        bitmap = CreateCompatibleBitmap(compatible, width, height);
        if (!bitmap) {
            Free();
            return false;
        }
        oldBitmap = SelectObject(dc, bitmap);
        return true;
    }
    void Free()
    {
        if (dc && oldBitmap)
            SelectObject(dc, oldBitmap);
        if (dc)
            DeleteDC(dc);
        if (bitmap)
            DeleteObject(bitmap);
        dc = nullptr;
        bitmap = nullptr;
        oldBitmap = nullptr;
    }
};

// Renders a picture whole into (x, y, cx, cy) of dc; OLE pictures are
// addressed bottom-up in HIMETRIC.
bool RenderPicture(IPicture* picture, HDC dc, int x, int y, int cx, int cy)
{
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    if (!picture || FAILED(picture->get_Width(&w)) || FAILED(picture->get_Height(&h)))
        return false;
    return SUCCEEDED(picture->Render(dc, x, y, cx, cy, 0, h, w, -h, nullptr));
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    HBRUSH brush = CreateSolidBrush(color);
    if (!brush)
        return;
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// Decodes a picture from a stream over hGlobal.
IPicture* DecodePicture(HGLOBAL hGlobal, LONG size, BOOL deleteOnRelease)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(hGlobal, deleteOnRelease, &stream)) || !stream)
        return nullptr;
    IPicture* picture = nullptr;
    HRESULT hr = OleLoadPicture(stream, size, FALSE, IID_IPicture, reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(hr)) {
        if (picture)
            picture->Release();
        return nullptr;
    }
    return picture;
}

} // namespace

// What the animation thread uses: the back buffer, the area saved under a
// frame of disposal 3, the frames, the frame index and the stop signal. The
// control and a running animation thread each hold a share (shared_ptr), so
// a thread that outlives the join's time limit still draws into live
// objects and frees them when it ends. The lock keeps the animation
// thread's drawing and the window thread's copy in OnPaint apart; it is held
// only around GDI calls, never across a wait or a message.
struct CPictureEx::Canvas
{
    Canvas() : stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Canvas()
    {
        buffer.Free();
        save.Free();
        for (PictureFrame& f : frames)
            if (f.pPicture)
                f.pPicture->Release();
        if (stopEvent)
            CloseHandle(stopEvent);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    Lock lock;
    HWND hwnd = nullptr; // invalidated after each drawn frame
    SIZE size = {0, 0};
    COLORREF fill = 0;   // clears disposed frames and the buffer at the wrap
    MemoryBitmap buffer;
    MemoryBitmap save;   // what lay under the frame of disposal 3 being shown
    std::vector<PictureFrame> frames;
    std::atomic<UINT> frameIndex{0};
    std::atomic<bool> stop{false};
    HANDLE stopEvent;    // manual reset: ends the wait between frames at once
};

namespace {

RECT FrameRect(const PictureFrame& f)
{
    return RECT{f.offset.x, f.offset.y, f.offset.x + f.size.cx, f.offset.y + f.size.cy};
}

// Under the canvas lock.
void DisposeFrame(CPictureEx::Canvas& c, UINT i)
{
    const PictureFrame& f = c.frames[i];
    if (f.disposal == 2) {
        FillSolid(c.buffer.dc, FrameRect(f), c.fill);
    } else if (f.disposal == 3 && c.save.dc) {
        BitBlt(c.buffer.dc, f.offset.x, f.offset.y, f.size.cx, f.size.cy, c.save.dc, 0, 0, SRCCOPY);
        c.save.Free();
    }
}

// The frame loop, on the animation thread. A stop leaves the index at the
// frame being shown, its disposal not yet done; the next run starts there.
void RunAnimation(CPictureEx::Canvas& c)
{
    const UINT count = static_cast<UINT>(c.frames.size());
    UINT i = c.frameIndex;
    if (i >= count)
        i = 0;
    {
        Hold hold(c.lock);
        DisposeFrame(c, i);
    }
    while (!c.stop) {
        const PictureFrame& f = c.frames[i];
        bool drawn;
        {
            Hold hold(c.lock);
            if (f.disposal == 3 && !c.save.dc) {
                if (c.save.Create(c.buffer.dc, f.size.cx, f.size.cy))
                    BitBlt(c.save.dc, 0, 0, f.size.cx, f.size.cy, c.buffer.dc, f.offset.x, f.offset.y, SRCCOPY);
            }
            drawn = RenderPicture(f.pPicture, c.buffer.dc, f.offset.x, f.offset.y, f.size.cx, f.size.cy);
        }
        if (drawn && c.hwnd) // a null window would invalidate every window
            InvalidateRect(c.hwnd, nullptr, FALSE);
        if (c.stop)
            break;
        // delay is at most 65535 (16 bits in the file), so the product fits.
        WaitForSingleObject(c.stopEvent, f.delay >= 5 ? f.delay * 10 : 100);
        if (c.stop)
            break;
        Hold hold(c.lock);
        DisposeFrame(c, i);
        if (++i >= count) {
            i = 0;
            FillSolid(c.buffer.dc, RECT{0, 0, c.size.cx, c.size.cy}, c.fill);
        }
        c.frameIndex = i;
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CPictureEx, CStatic)
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
    ON_WM_TIMER()
    ON_WM_DESTROY()
    ON_WM_PAINT()
    ON_CONTROL_REFLECT(STN_CLICKED, &CPictureEx::OnClicked)
    ON_WM_MOUSEHOVER()
    ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

CPictureEx::CPictureEx() : m_hHandCursor(LoadCursorW(nullptr, IDC_HAND))
{
}

CPictureEx::~CPictureEx()
{
    ReleasePicture();
}

size_t CPictureEx::GetFrameCount() const
{
    return m_canvas ? m_canvas->frames.size() : 0;
}

UINT CPictureEx::GetFrameIndex() const
{
    return m_canvas ? m_canvas->frameIndex.load() : 0;
}

COLORREF CPictureEx::GetBufferPixel(int x, int y) const
{
    if (!m_canvas || !m_canvas->buffer.dc)
        return CLR_INVALID;
    Hold hold(m_canvas->lock);
    return GetPixel(m_canvas->buffer.dc, x, y);
}

BOOL CPictureEx::LoadFromResource()
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(IDR_PICTURE), L"DATA");
    if (!res)
        return FALSE;
    HGLOBAL loaded = LoadResource(module, res);
    DWORD size = SizeofResource(module, res);
    if (!loaded || size == 0)
        return FALSE;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size);
    if (!block)
        return FALSE;
    void* dst = GlobalLock(block);
    const void* src = LockResource(loaded);
    if (!dst || !src) {
        if (dst)
            GlobalUnlock(block);
        GlobalFree(block);
        return FALSE;
    }
    std::memcpy(dst, src, size);
    GlobalUnlock(block);
    BOOL ok = LoadFromMemory(block, size);
    GlobalFree(block);
    return ok;
}

BOOL CPictureEx::LoadFromMemory(HGLOBAL hGlobal, DWORD dwSize)
{
    ReleasePicture();
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(hGlobal));
    if (!data)
        return FALSE;
    // GlobalSize may round up; never parse beyond what the block holds.
    const SIZE_T held = GlobalSize(hGlobal);
    if (held < dwSize)
        dwSize = static_cast<DWORD>(held);
    m_canvas = std::make_shared<Canvas>();
    if (!m_canvas->stopEvent) {
        m_canvas.reset();
        GlobalUnlock(hGlobal);
        return FALSE;
    }

    BOOL decoded = FALSE;
    SIZE size = {0, 0};
    GifHeader header;
    if (IsGifSignature(data, dwSize)) {
        m_bGif = TRUE;
        // A GIF signature on data too short for its screen descriptor is a
        // broken GIF, not another format.
        if (ReadGifHeader(data, dwSize, &header)) {
            m_parse = StartGifParse(data, dwSize, header);
            size = SIZE{LONG(header.width), LONG(header.height)};
            const uint32_t count = CountGraphicBlocks(m_parse);
            if (count == 1) {
                m_pStillPicture = DecodePicture(hGlobal, LONG(dwSize), FALSE);
                decoded = m_pStillPicture != nullptr;
            } else if (count >= 2) {
                UINT length = 0;
                PictureFrame frame;
                while (HGLOBAL one = ExtractFrame(&length, &frame)) {
                    // The stream frees the block when released, also when the
                    // frame does not decode.
                    frame.pPicture = DecodePicture(one, LONG(length), TRUE);
                    if (frame.pPicture)
                        m_canvas->frames.push_back(frame);
                }
                decoded = !m_canvas->frames.empty();
            }
        }
    } else {
        m_pStillPicture = DecodePicture(hGlobal, LONG(dwSize), FALSE);
        if (m_pStillPicture) {
            OLE_XSIZE_HIMETRIC w = 0;
            OLE_YSIZE_HIMETRIC h = 0;
            m_pStillPicture->get_Width(&w);
            m_pStillPicture->get_Height(&h);
            HDC dc = ::GetDC(m_hWnd);
            if (dc) {
                size.cx = MulDiv(w, GetDeviceCaps(dc, LOGPIXELSX), 2540);
                size.cy = MulDiv(h, GetDeviceCaps(dc, LOGPIXELSY), 2540);
                ::ReleaseDC(m_hWnd, dc);
                decoded = TRUE;
            }
        }
    }
    m_parse = GifParseState();
    GlobalUnlock(hGlobal);
    if (!decoded) {
        m_canvas.reset(); // nothing decoded: the control stays empty
        return FALSE;
    }
    m_sizePicture = size;
    m_canvas->size = size;
    return CreateBackBuffer(size.cx, size.cy);
}

HGLOBAL CPictureEx::ExtractFrame(UINT* length, PictureFrame* frame)
{
    GifFrame cut;
    if (!::ExtractFrame(m_parse, &cut))
        return nullptr;
    // Moveable: the stream over it is documented to need a moveable block.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, cut.gif.size());
    if (!block)
        return nullptr;
    void* p = GlobalLock(block);
    if (!p) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(p, cut.gif.data(), cut.gif.size());
    GlobalUnlock(block);
    *length = static_cast<UINT>(cut.gif.size());
    frame->pPicture = nullptr;
    frame->size = SIZE{cut.width, cut.height};
    frame->offset = POINT{cut.left, cut.top};
    frame->delay = cut.delay;
    frame->disposal = cut.disposal;
    return block;
}

BOOL CPictureEx::CreateBackBuffer(int width, int height)
{
    SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    HDC dc = ::GetDC(m_hWnd);
    if (!dc)
        return FALSE;
    Canvas& c = *m_canvas;
    bool made;
    {
        Hold hold(c.lock);
        made = c.buffer.Create(dc, width, height);
        if (made) {
            c.fill = GetSysColor(COLOR_BTNFACE);
            RECT all = {0, 0, width, height};
            FillRect(c.buffer.dc, &all, reinterpret_cast<HBRUSH>(COLOR_MENU + 1));
        }
    }
    ::ReleaseDC(m_hWnd, dc);
    m_bBufferReady = made;
    return made;
}

BOOL CPictureEx::Play()
{
    if (!m_bBufferReady || !m_canvas)
        return FALSE;
    if (m_bGif && m_canvas->frames.size() > 1) {
        if (m_hAnimThread)
            return FALSE; // already animating: one thread per control
        m_canvas->hwnd = m_hWnd;
        // The thread gets its own share of the canvas; it frees that share.
        auto share = std::make_unique<std::shared_ptr<Canvas>>(m_canvas);
        uintptr_t h = _beginthreadex(nullptr, 0, &CPictureEx::AnimationThreadProc, share.get(), CREATE_SUSPENDED, nullptr);
        m_hAnimThread = reinterpret_cast<HANDLE>(h);
        if (m_hAnimThread) {
            share.release();
            ResumeThread(m_hAnimThread);
        }
        return FALSE;
    }
    if (!m_pStillPicture)
        return FALSE;
    bool drawn;
    {
        Hold hold(m_canvas->lock);
        drawn = RenderPicture(m_pStillPicture, m_canvas->buffer.dc, 0, 0, m_sizePicture.cx, m_sizePicture.cy);
    }
    if (!drawn)
        return FALSE;
    Invalidate(FALSE);
    return TRUE;
}

unsigned __stdcall CPictureEx::AnimationThreadProc(void* arg)
{
    std::unique_ptr<std::shared_ptr<Canvas>> share(static_cast<std::shared_ptr<Canvas>*>(arg));
    RunAnimation(**share);
    return 0;
}

BOOL CPictureEx::StopAnimation()
{
    if (!m_canvas)
        return TRUE;
    Canvas& c = *m_canvas;
    c.stop = true;
    SetEvent(c.stopEvent);
    BOOL ended = TRUE;
    if (m_hAnimThread) {
        ended = WaitForSingleObject(m_hAnimThread, kJoinMs) == WAIT_OBJECT_0;
        CloseHandle(m_hAnimThread);
        m_hAnimThread = nullptr;
    }
    if (!ended) {
        // The thread is still inside a frame: leave its stop signal set and
        // let it keep the canvas it holds; the control starts empty.
        m_canvas.reset();
        if (m_pStillPicture) {
            m_pStillPicture->Release();
            m_pStillPicture = nullptr;
        }
        m_bBufferReady = FALSE;
        return FALSE;
    }
    ResetEvent(c.stopEvent);
    c.stop = false;
    return TRUE;
}

void CPictureEx::ReleasePicture()
{
    StopAnimation();
    if (m_pStillPicture) {
        m_pStillPicture->Release();
        m_pStillPicture = nullptr;
    }
    m_canvas.reset();
    m_parse = GifParseState();
    m_sizePicture = SIZE{0, 0};
    m_bGif = FALSE;
    m_bBufferReady = FALSE;
}

void CPictureEx::PreSubclassWindow()
{
    // SS_NOTIFY: the static control reports clicks (STN_CLICKED).
    SetWindowLongW(m_hWnd, GWL_STYLE, GetWindowLongW(m_hWnd, GWL_STYLE) | SS_NOTIFY);
    CStatic::PreSubclassWindow();
}

BOOL CPictureEx::PreTranslateMessage(MSG* pMsg)
{
    if (m_tooltip.m_hWnd)
        m_tooltip.RelayEvent(pMsg);
    return CStatic::PreTranslateMessage(pMsg);
}

void CPictureEx::SetupTooltip()
{
    if (!m_tooltip.m_hWnd) {
        if (!m_tooltip.Create(this, 0))
            return;
        m_tooltip.Activate(TRUE);
    }
    if (m_tooltip.GetToolCount() == 0) {
        RECT area = {0, 0, m_sizePicture.cx, m_sizePicture.cy};
        m_tooltip.AddTool(this, kTooltipText, &area, kTooltipId);
    }
    m_tooltip.SetDelayTime(TTDT_AUTOMATIC, 5000);
    m_tooltip.UpdateTipText(kTooltipText, this, kTooltipId);
}

BOOL CPictureEx::OnSetCursor(HWND, UINT, UINT)
{
    if (!m_hHandCursor)
        return FALSE;
    SetCursor(m_hHandCursor);
    return TRUE;
}

void CPictureEx::OnMouseMove(UINT nFlags, POINT point)
{
    if (!m_bHoverTracking) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_HOVER | TME_LEAVE, m_hWnd, 1};
        TrackMouseEvent(&tme);
        m_bHoverTracking = TRUE;
        SetTimer(m_nHoverTimerId, 100);
    }
    CStatic::OnMouseMove(nFlags, point);
}

void CPictureEx::OnTimer(UINT_PTR nIDEvent)
{
    DWORD pos = GetMessagePos();
    POINT pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    ScreenToClient(&pt);
    RECT client;
    GetClientRect(&client);
    if (!PtInRect(&client, pt)) {
        m_bHoverTracking = FALSE;
        KillTimer(m_nHoverTimerId);
    }
    CStatic::OnTimer(nIDEvent);
}

void CPictureEx::OnMouseHover(UINT nFlags, POINT point)
{
    if (m_tooltip.m_hWnd)
        m_tooltip.Popup();
    Invalidate(TRUE);
    CStatic::OnMouseHover(nFlags, point);
}

void CPictureEx::OnMouseLeave()
{
    if (m_tooltip.m_hWnd)
        m_tooltip.Pop();
    Invalidate(TRUE);
    CStatic::OnMouseLeave();
}

void CPictureEx::OnDestroy()
{
    StopAnimation();
    CStatic::OnDestroy();
}

void CPictureEx::OnPaint()
{
    CPaintDC dc(this);
    if (!m_canvas || !m_canvas->buffer.dc)
        return; // nothing loaded: nothing drawn
    Hold hold(m_canvas->lock);
    BitBlt(dc, 0, 0, m_sizePicture.cx, m_sizePicture.cy, m_canvas->buffer.dc, 0, 0, SRCCOPY);
}

void CPictureEx::OnClicked()
{
    // Its own message: WM_WORKER_FINISHED would make the window wait for a
    // worker that may still be running.
    if (m_hNotifyWnd)
        ::PostMessageW(m_hNotifyWnd, WM_PICTURE_CLICKED, 0, 0);
}

#include "picture_ex.h"

#include <process.h>

#include <cstring>
#include <mutex>

#include "framework/paint_dc.h"
#include "resource.h"
#include "window_messages.h"

namespace {

const wchar_t kTooltipText[] = L"Korvane Corp.";
const UINT kTooltipId = 1;
const DWORD kJoinMs = 5000;

using Hold = std::lock_guard<std::mutex>;

// A memory device context with a bitmap selected into it. Declared so that
// they end in this order: the bitmap goes out of the DC, the DC is deleted,
// then the bitmap.
struct MemoryBitmap
{
    GdiObject<HBITMAP> bitmap;
    MemoryDc memory;
    SelectedObject selected;

    HDC Dc() const { return memory.Get(); }
    bool Create(HDC compatible, int width, int height)
    {
        Free();
        memory = MemoryDc(CreateCompatibleDC(compatible));
        if (!memory.IsValid())
            return false;
        bitmap = GdiObject<HBITMAP>(CreateCompatibleBitmap(compatible, width, height));
        if (!bitmap.IsValid()) {
            Free();
            return false;
        }
        selected = SelectedObject(memory.Get(), bitmap.Get());
        return true;
    }
    void Free()
    {
        selected.Close();
        memory.Close();
        bitmap.Close();
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
    const GdiObject<HBRUSH> brush(CreateSolidBrush(color));
    if (brush.IsValid())
        FillRect(dc, &rect, brush.Get());
}

ComPtr<IPicture> LoadPicture(const ComPtr<IStream>& stream, LONG size)
{
    ComPtr<IPicture> picture;
    if (FAILED(OleLoadPicture(stream.Get(), size, FALSE, IID_IPicture, picture.ReceiveVoid())))
        picture.Reset();
    return picture;
}

// Decodes a picture from a stream over hGlobal, which stays the caller's.
ComPtr<IPicture> DecodePicture(HGLOBAL hGlobal, LONG size)
{
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(hGlobal, FALSE, stream.Receive())) || !stream.Get())
        return ComPtr<IPicture>();
    return LoadPicture(stream, size);
}

// Decodes a picture from a stream that takes the block over and frees it
// when released, also when the picture does not decode; a block that gets
// no stream is freed here.
ComPtr<IPicture> DecodeOwnedPicture(GlobalMemory block, LONG size)
{
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block.Get(), TRUE, stream.Receive())) || !stream.Get())
        return ComPtr<IPicture>();
    block.Detach();
    return LoadPicture(stream, size);
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
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    std::mutex lock;
    HWND hwnd = nullptr; // invalidated after each drawn frame
    SIZE size = {0, 0};
    COLORREF fill = 0; // clears disposed frames and the buffer at the wrap
    MemoryBitmap buffer;
    MemoryBitmap save; // what lay under the frame of disposal 3 being shown
    std::vector<PictureFrame> frames;
    std::atomic<UINT> frameIndex{0};
    std::atomic<bool> stop{false};
    KernelHandle stopEvent; // manual reset: ends the wait between frames at once
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
        FillSolid(c.buffer.Dc(), FrameRect(f), c.fill);
    } else if (f.disposal == 3 && c.save.Dc()) {
        BitBlt(c.buffer.Dc(), f.offset.x, f.offset.y, f.size.cx, f.size.cy, c.save.Dc(), 0, 0, SRCCOPY);
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
            if (f.disposal == 3 && !c.save.Dc()) {
                if (c.save.Create(c.buffer.Dc(), f.size.cx, f.size.cy))
                    BitBlt(c.save.Dc(), 0, 0, f.size.cx, f.size.cy, c.buffer.Dc(), f.offset.x, f.offset.y, SRCCOPY);
            }
            drawn = RenderPicture(f.pPicture.Get(), c.buffer.Dc(), f.offset.x, f.offset.y, f.size.cx, f.size.cy);
        }
        if (drawn && c.hwnd) // a null window would invalidate every window
            InvalidateRect(c.hwnd, nullptr, FALSE);
        if (c.stop)
            break;
        // delay is at most 65535 (16 bits in the file), so the product fits.
        WaitForSingleObject(c.stopEvent.Get(), f.delay >= 5 ? f.delay * 10 : 100);
        if (c.stop)
            break;
        Hold hold(c.lock);
        DisposeFrame(c, i);
        if (++i >= count) {
            i = 0;
            FillSolid(c.buffer.Dc(), RECT{0, 0, c.size.cx, c.size.cy}, c.fill);
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
    if (!m_canvas || !m_canvas->buffer.Dc())
        return CLR_INVALID;
    Hold hold(m_canvas->lock);
    return GetPixel(m_canvas->buffer.Dc(), x, y);
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
    const GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size));
    if (!block.IsValid())
        return FALSE;
    {
        const GlobalMemoryLock dst(block.Get());
        const void* src = LockResource(loaded);
        if (!dst.Get() || !src)
            return FALSE;
        std::memcpy(dst.Get(), src, size);
    }
    return LoadFromMemory(block.Get(), size);
}

BOOL CPictureEx::LoadFromMemory(HGLOBAL hGlobal, DWORD dwSize)
{
    ReleasePicture();
    BOOL decoded = FALSE;
    SIZE size = {0, 0};
    {
        const GlobalMemoryLock lock(hGlobal);
        const uint8_t* data = static_cast<const uint8_t*>(lock.Get());
        if (!data)
            return FALSE;
        // GlobalSize may round up; never parse beyond what the block holds.
        const SIZE_T held = GlobalSize(hGlobal);
        if (held < dwSize)
            dwSize = static_cast<DWORD>(held);
        m_canvas = std::make_shared<Canvas>();
        if (!m_canvas->stopEvent.IsValid()) {
            m_canvas.reset();
            return FALSE;
        }

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
                    m_pStillPicture = DecodePicture(hGlobal, LONG(dwSize));
                    decoded = m_pStillPicture.Get() != nullptr;
                } else if (count >= 2) {
                    UINT length = 0;
                    PictureFrame frame;
                    for (GlobalMemory one = ExtractFrame(&length, &frame); one.IsValid();
                         one = ExtractFrame(&length, &frame)) {
                        frame.pPicture = DecodeOwnedPicture(std::move(one), LONG(length));
                        if (frame.pPicture.Get())
                            m_canvas->frames.push_back(std::move(frame));
                    }
                    decoded = !m_canvas->frames.empty();
                }
            }
        } else {
            m_pStillPicture = DecodePicture(hGlobal, LONG(dwSize));
            if (m_pStillPicture.Get()) {
                OLE_XSIZE_HIMETRIC w = 0;
                OLE_YSIZE_HIMETRIC h = 0;
                m_pStillPicture->get_Width(&w);
                m_pStillPicture->get_Height(&h);
                const WindowDc dc(m_hWnd);
                if (dc.Get()) {
                    size.cx = MulDiv(w, GetDeviceCaps(dc.Get(), LOGPIXELSX), 2540);
                    size.cy = MulDiv(h, GetDeviceCaps(dc.Get(), LOGPIXELSY), 2540);
                    decoded = TRUE;
                }
            }
        }
        m_parse = GifParseState(); // it points into the block, unlocked next
    }
    if (!decoded) {
        m_canvas.reset(); // nothing decoded: the control stays empty
        return FALSE;
    }
    m_sizePicture = size;
    m_canvas->size = size;
    return CreateBackBuffer(size.cx, size.cy);
}

GlobalMemory CPictureEx::ExtractFrame(UINT* length, PictureFrame* frame)
{
    GifFrame cut;
    if (!::ExtractFrame(m_parse, &cut))
        return GlobalMemory();
    // Moveable: the stream over it is documented to need a moveable block.
    GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, cut.gif.size()));
    if (!block.IsValid())
        return GlobalMemory();
    {
        const GlobalMemoryLock p(block.Get());
        if (!p.Get())
            return GlobalMemory();
        std::memcpy(p.Get(), cut.gif.data(), cut.gif.size());
    }
    *length = static_cast<UINT>(cut.gif.size());
    frame->pPicture.Reset();
    frame->size = SIZE{cut.width, cut.height};
    frame->offset = POINT{cut.left, cut.top};
    frame->delay = cut.delay;
    frame->disposal = cut.disposal;
    return block;
}

BOOL CPictureEx::CreateBackBuffer(int width, int height)
{
    SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    bool made;
    {
        const WindowDc dc(m_hWnd);
        if (!dc.Get())
            return FALSE;
        Canvas& c = *m_canvas;
        Hold hold(c.lock);
        made = c.buffer.Create(dc.Get(), width, height);
        if (made) {
            c.fill = GetSysColor(COLOR_BTNFACE);
            RECT all = {0, 0, width, height};
            FillRect(c.buffer.Dc(), &all, reinterpret_cast<HBRUSH>(COLOR_MENU + 1));
        }
    }
    m_bBufferReady = made;
    return made;
}

BOOL CPictureEx::Play()
{
    if (!m_bBufferReady || !m_canvas)
        return FALSE;
    if (m_bGif && m_canvas->frames.size() > 1) {
        if (m_hAnimThread.IsValid())
            return FALSE; // already animating: one thread per control
        m_canvas->hwnd = m_hWnd;
        // The thread gets its own share of the canvas; it frees that share.
        auto share = std::make_unique<std::shared_ptr<Canvas>>(m_canvas);
        uintptr_t h =
            _beginthreadex(nullptr, 0, &CPictureEx::AnimationThreadProc, share.get(), CREATE_SUSPENDED, nullptr);
        m_hAnimThread = KernelHandle(reinterpret_cast<HANDLE>(h));
        if (m_hAnimThread.IsValid()) {
            share.release();
            ResumeThread(m_hAnimThread.Get());
        }
        return FALSE;
    }
    if (!m_pStillPicture.Get())
        return FALSE;
    bool drawn;
    {
        Hold hold(m_canvas->lock);
        drawn = RenderPicture(m_pStillPicture.Get(), m_canvas->buffer.Dc(), 0, 0, m_sizePicture.cx, m_sizePicture.cy);
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
    SetEvent(c.stopEvent.Get());
    BOOL ended = TRUE;
    if (m_hAnimThread.IsValid()) {
        ended = WaitForSingleObject(m_hAnimThread.Get(), kJoinMs) == WAIT_OBJECT_0;
        m_hAnimThread.Close();
    }
    if (!ended) {
        // The thread is still inside a frame: leave its stop signal set and
        // let it keep the canvas it holds; the control starts empty.
        m_canvas.reset();
        m_pStillPicture.Reset();
        m_bBufferReady = FALSE;
        return FALSE;
    }
    ResetEvent(c.stopEvent.Get());
    c.stop = false;
    return TRUE;
}

void CPictureEx::ReleasePicture()
{
    StopAnimation();
    m_pStillPicture.Reset();
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
    if (!m_canvas || !m_canvas->buffer.Dc())
        return; // nothing loaded: nothing drawn
    Hold hold(m_canvas->lock);
    BitBlt(dc, 0, 0, m_sizePicture.cx, m_sizePicture.cy, m_canvas->buffer.Dc(), 0, 0, SRCCOPY);
}

void CPictureEx::OnClicked()
{
    // Its own message: WM_WORKER_FINISHED would make the window wait for a
    // worker that may still be running.
    if (m_hNotifyWnd)
        ::PostMessageW(m_hNotifyWnd, WM_PICTURE_CLICKED, 0, 0);
}

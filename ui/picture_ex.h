// CPictureEx: a static control that shows a picture held in memory: a GIF,
// animated on a thread of its own when it has more than one frame, or any
// other format the OLE picture loader decodes, shown still. It draws
// through a back buffer, shows the hand cursor, pops up a tooltip while the
// mouse rests on it and posts WM_PICTURE_CLICKED to its notify window when
// clicked.
//
// Threads: every member is for the control's window thread (the GUI thread).
// The only other thread is the animation thread, which draws into the back
// buffer and invalidates the control; it never sends a message, so the GUI
// thread may always wait for it. StopAnimation (and everything that calls it:
// a new load, ReleasePicture, WM_DESTROY, the destructor) blocks for at most
// 5 s while the thread ends.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "download/win_handles.h"
#include "framework/static_ctrl.h"
#include "framework/tooltip_ctrl.h"
#include "gif_parser.h"

// One decoded frame of an animated GIF; moves, never copies, its picture.
struct PictureFrame
{
    ComPtr<IPicture> pPicture; // the frame decoded on its own
    SIZE size = {0, 0};        // from the image descriptor
    POINT offset = {0, 0};     // in the logical screen
    UINT delay = 0;            // hundredths of a second; 0 without a control extension
    UINT disposal = 0;         // 0 to 7
};

class CPictureEx : public CStatic
{
public:
    CPictureEx();
    ~CPictureEx() override;
    CPictureEx(const CPictureEx&) = delete;
    CPictureEx& operator=(const CPictureEx&) = delete;

    // Loads resource DATA 142 of the module (the shipped picture).
    BOOL LoadFromResource();
    // Replaces what was loaded by the picture in hGlobal (dwSize bytes),
    // which the caller keeps owning; the block is locked only while it is
    // parsed. TRUE when a picture was decoded and the back buffer made.
    BOOL LoadFromMemory(HGLOBAL hGlobal, DWORD dwSize);
    // Draws a still picture (TRUE when drawn) or starts the animation thread
    // for a GIF of several frames (FALSE then, as for every other case).
    BOOL Play();
    // Creates the tooltip ("Korvane Corp.") over the picture's area.
    void SetupTooltip();
    // Ends a running animation thread; TRUE when none is left running. After
    // a join that timed out the control lets go of the picture (the late
    // thread frees it when it ends) and is empty again.
    BOOL StopAnimation();
    // Stops the animation and frees everything loaded.
    void ReleasePicture();

    // State for the owner and the tests.
    SIZE GetPictureSize() const { return m_sizePicture; }
    size_t GetFrameCount() const;
    UINT GetFrameIndex() const; // the frame being shown
    BOOL IsAnimating() const { return m_hAnimThread.IsValid(); }
    BOOL HasStillPicture() const { return m_pStillPicture.Get() != nullptr; }
    // The back buffer's pixel at (x, y); CLR_INVALID without a buffer.
    COLORREF GetBufferPixel(int x, int y) const;

    BOOL PreTranslateMessage(MSG* pMsg) override;

    HWND m_hNotifyWnd = nullptr; // told of clicks; set by the owner

    struct Canvas;

protected:
    void PreSubclassWindow() override;

    BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message);
    void OnMouseMove(UINT nFlags, POINT point);
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    void OnPaint();
    void OnClicked();
    void OnMouseHover(UINT nFlags, POINT point);
    void OnMouseLeave();

    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateBackBuffer(int width, int height);
    // Cuts the next frame out of the data under the parse into a global
    // memory block holding a one-frame GIF; empty at the end or on a fault.
    GlobalMemory ExtractFrame(UINT* length, PictureFrame* frame);
    static unsigned __stdcall AnimationThreadProc(void* arg);

    SIZE m_sizePicture = {0, 0};
    GifParseState m_parse; // the locked data while a load parses it
    BOOL m_bGif = FALSE;
    BOOL m_bBufferReady = FALSE;
    KernelHandle m_hAnimThread;
    ComPtr<IPicture> m_pStillPicture;
    // Back buffer, frames and stop signal, shared with the animation thread.
    std::shared_ptr<Canvas> m_canvas;
    CToolTipCtrl m_tooltip;
    BOOL m_bHoverTracking = FALSE;
    UINT m_nHoverTimerId = 1;
    HCURSOR m_hHandCursor = nullptr;
};

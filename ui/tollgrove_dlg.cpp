#include "ui/tollgrove_dlg.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "download/download_error.h"
#include "download/ini_file.h"
#include "download/support_routines.h"
#include "download/worker_thread.h"
#include "ui/window_messages.h"

std::wstring g_szModuleDir;
PeerInfoList g_peerInfoList;

namespace {

// The icon record up to and including guidItem, with the balloon fields:
// the size every shell since Windows XP takes (952 bytes in the shipped
// 32-bit program; the window and icon handles make it 968 in a 64-bit one).
static_assert(NOTIFYICONDATAW_V3_SIZE == (sizeof(void*) == 4 ? 952 : 968), "NOTIFYICONDATAW layout");

const wchar_t kTitle[] = L"Tollgrove 3.0";

struct Column
{
    const wchar_t* heading;
    int width;
};
const Column kPeerColumns[] = {
    {L"Địa chỉ", 95}, {L"Tốc độ", 75}, {L"Dung lượng", 70}, {L"Máy khách", 95}, {L"Trạng thái", 80},
};

const UINT kIndicators[] = {IDS_PANE_PORT, IDS_PANE_PEERS, IDS_PANE_RATES, IDS_PANE_TOTALS};

// Sent to every top-level window when the taskbar (Explorer) starts again,
// having lost every notification-area icon.
const UINT g_nTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

// How long the end of the Windows session waits for the saved state: below
// the 5 s after which Windows offers the user to end the program.
constexpr DWORD kEndSessionWaitMs = 4000;

// GUI thread: waits until `done` is set or `thread` has ended, at most
// `limitMs`, serving meanwhile every message another thread sends to this
// one, so that a thread blocked in such a send goes on. Posted messages
// stay in the queue.
void WaitServingSends(HANDLE thread, const std::atomic<BOOL>& done, DWORD limitMs)
{
    const DWORD start = ::GetTickCount();
    while (!done) {
        const DWORD spent = ::GetTickCount() - start;
        if (spent >= limitMs)
            return;
        // Short slices: `done` is a flag, not a handle to wait on.
        const DWORD r = ::MsgWaitForMultipleObjects(1, &thread, FALSE, std::min<DWORD>(limitMs - spent, 50), QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED)
            return;
        if (r == WAIT_OBJECT_0 + 1) {
            MSG msg;
            ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CTollgroveDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_SYSCOMMAND()
    ON_BN_CLICKED(IDC_BTN_EXIT, &CTollgroveDlg::OnExitButton)
    ON_BN_CLICKED(IDC_BTN_ACTION, &CTollgroveDlg::OnActionButton)
    ON_BN_CLICKED(IDC_BTN_TOGGLE, &CTollgroveDlg::OnToggleSizeButton)
    ON_MESSAGE(WM_TRAY_NOTIFY, &CTollgroveDlg::OnTrayNotify)
    ON_MESSAGE(WM_WORKER_FINISHED, &CTollgroveDlg::OnWorkerFinished)
    ON_MESSAGE(WM_REFRESH_STATUS, &CTollgroveDlg::OnRefreshStatus)
    ON_MESSAGE(WM_PICTURE_CLICKED, &CTollgroveDlg::OnPictureClicked)
    ON_MESSAGE(WM_QUERYENDSESSION, &CTollgroveDlg::OnQueryEndSession)
    ON_MESSAGE(WM_ENDSESSION, &CTollgroveDlg::OnEndSession)
    ON_REGISTERED_MESSAGE(g_nTaskbarCreated, &CTollgroveDlg::OnTaskbarCreated)
END_MESSAGE_MAP()

CTollgroveDlg::CTollgroveDlg()
    : CDialog(IDD_MAIN_DIALOG, nullptr), m_bInTray(FALSE), m_trayData(), m_bExpanded(FALSE)
{
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

void CTollgroveDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_PEER_LIST, m_peerList);
    DDX_Control(pDX, IDC_PICTURE, m_picture);
}

BOOL CTollgroveDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowText(kTitle);

    // The program's folder, whatever the length of its path: an empty one
    // would put the configuration and cache paths at the drive's root.
    g_szModuleDir = ProgramFolder();

    // The picture: placed, told where clicks go, loaded and shown (it sizes
    // itself to the picture).
    m_picture.MoveWindow(13, 160, 20, 30, FALSE);
    m_picture.m_hNotifyWnd = m_hWnd;
    if (m_picture.LoadFromResource()) {
        m_picture.Play();
        m_picture.SetupTooltip();
    }

    m_trayData = NOTIFYICONDATAW();
    m_trayData.cbSize = NOTIFYICONDATAW_V3_SIZE;
    m_trayData.hWnd = m_hWnd;
    m_trayData.uID = 1;
    m_trayData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    m_trayData.uCallbackMessage = WM_TRAY_NOTIFY;
    m_trayData.hIcon = m_hIcon;
    m_trayData.uTimeout = 10000;
    m_trayData.dwInfoFlags = NIIF_INFO;
    lstrcpynW(m_trayData.szInfoTitle, kTitle, ARRAYSIZE(m_trayData.szInfoTitle));
    lstrcpynW(m_trayData.szTip, kTitle, ARRAYSIZE(m_trayData.szTip));
    lstrcpynW(m_trayData.szInfo, L"Chương trình đang hoạt động.", ARRAYSIZE(m_trayData.szInfo));

    m_bExpanded = TRUE;
    m_strVersion = GetExeVersionString();

    m_progress.SetRange(0, 100);
    m_statusCallback.m_pOwner = this;
    m_progress.SetPos(0);

    m_peerList.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kPeerColumns)); ++i)
        m_peerList.InsertColumn(i, kPeerColumns[i].heading, LVCFMT_LEFT, kPeerColumns[i].width);

    m_statusBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR);
    m_statusBar.SetIndicators(kIndicators, ARRAYSIZE(kIndicators));
    m_statusBar.SetPaneInfo(0, IDS_PANE_PORT, SBPS_NORMAL, 45);
    m_statusBar.SetPaneInfo(1, IDS_PANE_PEERS, SBPS_NORMAL, 90);
    m_statusBar.SetPaneInfo(2, IDS_PANE_RATES, SBPS_NORMAL, 150);
    m_statusBar.SetPaneInfo(3, IDS_PANE_TOTALS, SBPS_STRETCH, 145);
    RepositionBars(AFX_IDW_CONTROLBAR_FIRST, AFX_IDW_CONTROLBAR_LAST, 0);

    OnActionButton(); // the first attempt starts at once
    return TRUE;
}

void CTollgroveDlg::OnOK()
{
    // Enter must never close the window.
}

void CTollgroveDlg::OnCancel()
{
    // Escape, the close box and the minimise box hide the window into the
    // notification area; the dialog goes on.
    ShowWindow(SW_HIDE);
    m_bInTray = ::Shell_NotifyIconW(NIM_ADD, &m_trayData);
    if (!m_bInTray) // no icon to bring it back with: keep the window
        ShowWindow(SW_SHOW);
}

void CTollgroveDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if (nID == SC_CLOSE || nID == SC_MINIMIZE)
        OnCancel();
    else
        CDialog::OnSysCommand(nID, lParam);
}

LRESULT CTollgroveDlg::OnTrayNotify(WPARAM, LPARAM lParam)
{
    if (lParam == WM_LBUTTONDOWN) {
        ShowWindow(SW_SHOW);
        m_bInTray = !::Shell_NotifyIconW(NIM_DELETE, &m_trayData);
    }
    return 1;
}

LRESULT CTollgroveDlg::OnTaskbarCreated(WPARAM, LPARAM)
{
    // The hidden window's icon is its only way back: add it again, and show
    // the window when that fails, as OnCancel does.
    if (m_bInTray) {
        m_bInTray = ::Shell_NotifyIconW(NIM_ADD, &m_trayData);
        if (!m_bInTray)
            ShowWindow(SW_SHOW);
    }
    return 0;
}

void CTollgroveDlg::OnActionButton()
{
    if (lstrcmpiW(GetDlgItemText(IDC_BTN_ACTION).c_str(), L"Chơi ngay") == 0) {
        OnPlay();
        return;
    }
    m_bBusy = TRUE;
    m_bStopRequested = FALSE;
    m_bStateSaved = FALSE;
    GetDlgItem(IDC_BTN_ACTION).EnableWindow(FALSE);
    SetDlgItemText(IDC_BTN_EXIT, L"Dừng lại");
    SetDlgItemText(IDC_TXT_HEADLINE, L"Đang tải dữ liệu...");
    m_hWorker = KernelHandle(::CreateThread(nullptr, 0, WorkerThreadProc, this, 0, nullptr));
    if (!m_hWorker.IsValid()) {
        // No worker: say so and go back to the idle state instead of
        // waiting for a result that never comes.
        OnWorkerFinished(0, WR_FAILED);
    }
}

void CTollgroveDlg::OnExitButton()
{
    if (m_bBusy && !m_bStopRequested) {
        m_bStopRequested = TRUE;
        SetDlgItemText(IDC_BTN_EXIT, L"Thoát ra");
        return;
    }
    if (m_bBusy)
        return; // still stopping: the worker saves its state and then reports; never end before it
    if (!m_strInstallPath.empty())
        WriteInstallPath(m_strCachePath, m_strInstallPath);
    ::PostQuitMessage(0);
}

LRESULT CTollgroveDlg::OnWorkerFinished(WPARAM, LPARAM lParam)
{
    if (m_hWorker.IsValid()) {
        ::WaitForSingleObject(m_hWorker.Get(), INFINITE);
        m_hWorker.Close();
    }
    if (m_bInTray) {
        ShowWindow(SW_SHOW);
        m_bInTray = !::Shell_NotifyIconW(NIM_DELETE, &m_trayData);
    }
    const std::wstring& f = m_strTorrentFileName;
    const std::wstring& g = m_strGameName;
    switch (static_cast<int>(lParam)) {
    case WR_COMPLETED:
        DeleteWorkFiles();
        CreateGameShortcut();
        SetDlgItemText(IDC_BTN_ACTION, L"Chơi ngay");
        SetDlgItemText(IDC_TXT_DETAIL, (L"Đã tải thành công nội dung tập tin [" + f + L"].").c_str());
        SetDlgItemText(IDC_TXT_HEADLINE, (L"Đã tải thành công dữ liệu [" + g + L"].").c_str());
        SetDlgItemText(IDC_TXT_HINT, L"Vui lòng bấm vào nút Chơi ngay để vào game.");
        break;
    case WR_STOPPED:
        SetDlgItemText(IDC_TXT_HEADLINE, (L"Bạn đã hủy quá trình tải dữ liệu [" + g + L"].").c_str());
        SetDlgItemText(IDC_TXT_DETAIL, (L"Bạn đã hủy quá trình tải nội dung tập tin [" + f + L"].").c_str());
        SetDlgItemText(IDC_TXT_HINT, L"Vui lòng bấm vào nút thử lại để tiếp tục quá trình tải.");
        break;
    case WR_TORRENT_FETCH_FAILED:
        SetDlgItemText(IDC_TXT_HEADLINE, (L"Tải tập tin torrent [" + f + L"] thất bại.").c_str());
        SetDlgItemText(IDC_TXT_DETAIL, (L"Quá trình tải nội dung tập tin [" + f + L"] thất bại.").c_str());
        SetDlgItemText(IDC_TXT_HINT, L"Vui lòng bấm vào nút thử lại để tiếp tục quá trình tải.");
        break;
    default:
        SetDlgItemText(IDC_TXT_HEADLINE, L"Lỗi");
        SetDlgItemText(IDC_TXT_DETAIL, (L"Quá trình tải tập tin [" + f + L"] thất bại.").c_str());
        SetDlgItemText(IDC_TXT_HINT, L"Vui lòng bấm vào nút thử lại để tiếp tục quá trình tải.");
        break;
    }
    m_bBusy = FALSE;
    GetDlgItem(IDC_BTN_ACTION).EnableWindow(TRUE);
    SetDlgItemText(IDC_BTN_EXIT, L"Thoát ra");
    return 1;
}

LRESULT CTollgroveDlg::OnPictureClicked(WPARAM, LPARAM)
{
    return 0; // the picture is decoration: a click changes nothing
}

LRESULT CTollgroveDlg::OnQueryEndSession(WPARAM, LPARAM)
{
    return TRUE;
}

LRESULT CTollgroveDlg::OnEndSession(WPARAM wParam, LPARAM)
{
    if (!wParam || !m_bBusy || !m_hWorker.IsValid())
        return 0; // the end was cancelled, or no attempt has anything to save
    m_bStopRequested = TRUE;
    WaitServingSends(m_hWorker.Get(), m_bStateSaved, kEndSessionWaitMs);
    return 0;
}

void CTollgroveDlg::OnToggleSizeButton()
{
    RECT rect;
    GetWindowRect(&rect);
    if (m_bExpanded) {
        rect.bottom -= 246;
        SetDlgItemText(IDC_BTN_TOGGLE, L"Mở rộng");
    } else {
        rect.bottom += 246;
        SetDlgItemText(IDC_BTN_TOGGLE, L"Thu nhỏ");
    }
    MoveWindow(rect, TRUE);
    m_bExpanded = !m_bExpanded;
}

void CTollgroveDlg::ShowProgress(double percent)
{
    m_progress.SetPos(static_cast<int>(percent));
    wchar_t text[64];
    std::swprintf(text, 64, L"%.2lf %%", percent);
    SetDlgItemText(IDC_TXT_PERCENT, text);
}

void CTollgroveDlg::ShowSpeed(uint32_t bytesPerSecond)
{
    SetDlgItemText(IDC_TXT_SPEED, (ByteSizeText(bytesPerSecond) + L"/s").c_str());
}

void CTollgroveDlg::ShowRemainingTime(uint32_t seconds)
{
    wchar_t text[64];
    std::swprintf(text, 64, L"%02u:%02u:%02u", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
    SetDlgItemText(IDC_TXT_TIME_LEFT, text);
}

std::wstring GetExeVersionString()
{
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    if (size == 0)
        return {};
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!::GetFileVersionInfoW(path, 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info)
        return {};
    wchar_t text[64];
    std::swprintf(text, 64, L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return text;
}

void CTollgroveDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CTollgroveDlg::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(m_hIcon);
}

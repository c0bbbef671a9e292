#include "ui/tollgrove_dlg.h"

#include <commctrl.h>

#include "ui/window_messages.h"

namespace {

// The icon record up to and including guidItem, with the balloon fields:
// the size every shell since Windows XP takes.
static_assert(NOTIFYICONDATAW_V3_SIZE == 952, "NOTIFYICONDATAW layout");

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

} // namespace

BEGIN_MESSAGE_MAP(CTollgroveDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_SYSCOMMAND()
    ON_BN_CLICKED(IDC_BTN_EXIT, &CTollgroveDlg::OnExitButton)
    ON_MESSAGE(WM_TRAY_NOTIFY, &CTollgroveDlg::OnTrayNotify)
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

    m_progress.SetRange(0, 100);
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

void CTollgroveDlg::OnExitButton()
{
    // No download runs in this window yet: Exit ends the modal loop.
    ::PostQuitMessage(0);
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

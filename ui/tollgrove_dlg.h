// The main window: a modal dialog on IDD_MAIN_DIALOG.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "framework/framework.h"
#include "resource.h"

class CTollgroveDlg : public CDialog
{
public:
    enum { IDD = IDD_MAIN_DIALOG };

    // GUI thread: constructs the window object without a parent; the window
    // itself exists only while DoModal runs.
    CTollgroveDlg();

protected:
    // Handlers run on the GUI thread.
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnExitButton();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

    CProgressCtrl m_progress;   // control 1002, range 0 to 100
    CStatusBar m_statusBar;     // four panes along the bottom
    CListCtrl m_peerList;       // control 1014, peers and sources
    BOOL m_bInTray;             // the notification-area icon is shown
    CStatic m_picture;          // control 1017
    HICON m_hIcon;              // icon 128: window and notification area
    NOTIFYICONDATAW m_trayData; // the notification-area icon, its tip and balloon
    BOOL m_bExpanded;           // the peer list part of the window is shown
};

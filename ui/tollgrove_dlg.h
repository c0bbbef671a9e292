// The main window: a modal dialog on IDD_MAIN_DIALOG.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <libtorrent/torrent_status.hpp>

#include "download/download_state.h"
#include "framework/framework.h"
#include "resource.h"
#include "ui/picture_ex.h"
#include "ui/status_callback.h"

namespace libtorrent {
class session;
}
namespace tg {
class torrent_handle;
class direct_http_engine;
}
namespace tollgrove {
struct SessionOptions;
class PeriodicResumeSaver;
}

// The main window owns the download state (its base) that the worker of
// each attempt reads and writes (see download_state.h for the sharing rules).
class CTollgroveDlg : public CDialog, public DownloadState
{
public:
    enum { IDD = IDD_MAIN_DIALOG };

    // GUI thread: constructs the window object without a parent; the window
    // itself exists only while DoModal runs.
    CTollgroveDlg();

    // Worker thread: the attempt's BitTorrent download (set-up, loop, stop
    // sequence); returns the WorkerResult. Sends messages to this window.
    int RunDownload();

    // Worker thread: set the progress bar and labels 1007, 1005, 1006
    // through messages sent to the GUI thread.
    void ShowProgress(double percent);
    void ShowSpeed(uint32_t bytesPerSecond);
    void ShowRemainingTime(uint32_t seconds);

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
    void OnActionButton();
    void OnToggleSizeButton();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam); // Explorer started again
    LRESULT OnWorkerFinished(WPARAM wParam, LPARAM lParam);
    LRESULT OnRefreshStatus(WPARAM wParam, LPARAM lParam);
    LRESULT OnPictureClicked(WPARAM wParam, LPARAM lParam);

    // Windows ends the session (log-off, shut-down, restart). The program
    // never vetoes: WM_QUERYENDSESSION answers TRUE and changes nothing, as
    // another program may still cancel the end. WM_ENDSESSION with TRUE is
    // the last word: the process may be ended as soon as the handler
    // returns, so while an attempt runs the handler asks it to stop (the
    // flag the loop polls every second) and returns only once the worker's
    // stop sequence has written the resume and DHT state files
    // (m_bStateSaved), the worker has ended, or kEndSessionWaitMs passed:
    // Windows gives a program about 5 s before it offers to end it.
    // The worker sends synchronous messages to this window all along the
    // stop sequence (labels, WM_REFRESH_STATUS, the list's rows), so a plain
    // wait here would hold it for good. The handler waits instead with
    // MsgWaitForMultipleObjects on the worker's handle, waking for every
    // message another thread sends, and serves those sends in place
    // (PeekMessageW with PM_QS_SENDMESSAGE dispatches them and takes no
    // posted message): the worker never waits for a GUI thread that waits
    // for it. Posted messages (WM_WORKER_FINISHED among them) stay queued
    // for the modal loop, which handles them as usual if the process lives.
    LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);

    // Worker thread, the three phases of RunDownload: the torrent added
    // with its limits and first source (engine failures leave it invalid);
    // the once-a-second loop until a stop request, seeding or a storage
    // failure, returning the last status; the stop sequence, returning the
    // WorkerResult.
    void AddGameTorrent(lt::session& session, tg::direct_http_engine& sources, const tollgrove::SessionOptions& options,
        tg::torrent_handle& torrent, std::string& sourceUrl);
    lt::torrent_status RunDownloadLoop(lt::session& session, tg::torrent_handle& torrent, const std::string& sourceUrl,
        tollgrove::PeriodicResumeSaver& saver, bool& storageFailed);
    int StopDownload(lt::session& session, tg::direct_http_engine& sources, tg::torrent_handle& torrent,
        const lt::torrent_status& last, tollgrove::PeriodicResumeSaver& saver, bool storageFailed);

    // Worker thread, inside RunDownload.
    void ShowState(const lt::torrent_status& st, int dhtNodes, const tg::torrent_handle& torrent,
                   bool& headlineShown, bool& running);
    void MarkPeerRowsFinished();

    // GUI thread, inside WM_REFRESH_STATUS: reconciles the rows with
    // g_peerInfoList (which it shrinks); writes one row's columns.
    void SyncPeerList();
    void FillPeerRow(const tg::peer_record& record, int row);

    // GUI thread, after a completed download: deletes the four work files;
    // makes m_strRunFile absolute and replaces the desktop shortcut (FALSE
    // when there is no desktop folder). OnPlay is the Play branch of the
    // action button: starts m_strRunFile, then ends the modal loop.
    void DeleteWorkFiles();
    BOOL CreateGameShortcut();
    void OnPlay();

    DECLARE_MESSAGE_MAP()

    CStatusCallback m_statusCallback; // progress sink; owner set by OnInitDialog
    CProgressCtrl m_progress;   // control 1002, range 0 to 100
    CStatusBar m_statusBar;     // four panes along the bottom
    CListCtrl m_peerList;       // control 1014, peers and sources
    BOOL m_bInTray;             // the notification-area icon is shown
    CPictureEx m_picture;       // control 1017
    HICON m_hIcon;              // icon 128: window and notification area
    NOTIFYICONDATAW m_trayData; // the notification-area icon, its tip and balloon
    BOOL m_bExpanded;           // the peer list part of the window is shown
};

// Any thread (COM is set up and ended around the call): a shell link at
// `link` to the full path of `target`, starting in `workingDirectory`.
// E_FAIL when the full path cannot be had; else the first failing COM
// call's result, else IPersistFile::Save's. Paths of MAX_PATH characters or
// more are refused with E_INVALIDARG.
HRESULT CreateShellLink(const std::wstring& target, const std::wstring& link, const std::wstring& workingDirectory);

// The program's file version, "3.0.0.2"; empty when it cannot be read.
std::wstring GetExeVersionString();

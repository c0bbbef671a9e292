// The state one download attempt shares with the main window. The window
// object owns it (CTollgroveDlg derives from it) and outlives every attempt.
//
// Sharing without a lock: between the start of an attempt and its
// WM_WORKER_FINISHED the GUI thread writes only m_bStopRequested (an atomic,
// as the worker polls it while the GUI writes it) and reads
// nothing the worker writes, except m_strPaneText and g_peerInfoList while
// it handles the worker's synchronous WM_REFRESH_STATUS. The GUI never waits
// for the worker while the worker may still send it a message.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/peer_record.hpp"
#include "win_handles.h"

struct DownloadState
{
    BOOL m_bBusy = FALSE;          // a worker thread runs (GUI)
    std::atomic<BOOL> m_bStopRequested{FALSE}; // the user asked the attempt to stop (GUI writes, worker polls)
    KernelHandle m_hWorker;        // the running worker thread (GUI)
    // The attempt's resume and DHT state files are final, or none will be
    // written (worker sets it; GUI clears it before each attempt and reads
    // it only while Windows ends the session).
    std::atomic<BOOL> m_bStateSaved{FALSE};

    int32_t m_nMinSpeed = 0;       // KB/s
    int32_t m_nMaxSpeed = 0;       // KB/s
    int32_t m_nMaxHttpConn = 0;
    uint32_t m_nBytesDownloaded = 0;
    int32_t m_nTotalTimeDL = 0;
    int32_t m_nTotalSizeDL = 0;
    uint32_t m_nStartSec = 0;
    uint32_t m_nEndSec = 0;

    std::wstring m_strLinkHttp;
    std::wstring m_strLinkReport;  // without its scheme
    std::wstring m_strGameCode;
    std::wstring m_strGameName;
    std::wstring m_strVersion;     // "3.0.0.2", set before the first attempt
    std::wstring m_strRunFile;
    std::wstring m_strShortcutDelete;
    std::wstring m_strShortcutFile;
    std::wstring m_strShortcutName;
    std::wstring m_strTorrentPath;
    std::wstring m_strTorrentFileName;
    std::wstring m_strConfigPath;
    std::wstring m_strDhtStatePath;
    std::wstring m_strResumePath;
    std::wstring m_strInstallPath; // kept across the attempts of one run
    std::wstring m_strCachePath;

    std::wstring m_strPaneText[4]; // status-bar panes 0 to 3 (worker writes)
};

// The program's folder without a trailing backslash, never cut: filled by
// the main window's initialisation before the first attempt.
extern std::wstring g_szModuleDir;

// The engine's peer records of the running attempt, refilled every second;
// the window reads them only inside WM_REFRESH_STATUS.
using PeerInfoList = std::vector<tg::peer_record>;
extern PeerInfoList g_peerInfoList;

// RefreshMask bits of WM_REFRESH_STATUS.
enum RefreshMask : unsigned
{
    REFRESH_PEER_LIST = 0x01,
    REFRESH_PANE_PORT = 0x02,
    REFRESH_PANE_PEERS = 0x04,
    REFRESH_PANE_RATES = 0x08,
    REFRESH_PANE_TOTALS = 0x10,
    REFRESH_ALL = 0x1F,
};

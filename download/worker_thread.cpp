#include "worker_thread.h"

#include <shlwapi.h>

#include "attempt_outcome.h"
#include "attempt_paths.h"
#include "http_download.h"
#include "ini_file.h"
#include "report_urls.h"
#include "reports.h"
#include "support_routines.h"
#include "ui/install_folder_prompt.h"
#include "ui/tollgrove_dlg.h"
#include "ui/window_messages.h"

using namespace tollgrove;

namespace {

// Step 3 of an attempt: the install folder. False when the user cancelled.
bool ObtainInstallFolder(CTollgroveDlg& dlg, const std::wstring& foldedGameName)
{
    if (!dlg.m_strInstallPath.empty())
        return true; // an earlier attempt of this run chose it: used unchecked
    // A relative folder in the cache file means the program's folder (the
    // current directory until the attempt changes into the install folder).
    dlg.m_strInstallPath = FullPathName(ReadInstallPath(dlg.m_strCachePath));
    if (!dlg.m_strInstallPath.empty() && IsExistingFolder(dlg.m_strInstallPath))
        return true;
    dlg.m_strInstallPath.clear();
    std::wstring chosen;
    if (AskInstallFolder(&dlg, foldedGameName, chosen) == IDCANCEL)
        return false;
    dlg.m_strInstallPath = chosen;
    return true;
}

void ReadSettings(CTollgroveDlg& dlg)
{
    const SettingValues v = ReadSettingValues(dlg.m_strConfigPath);
    dlg.m_strLinkHttp = v.linkHttp;
    dlg.m_nMinSpeed = v.minSpeed;
    dlg.m_nMaxSpeed = v.maxSpeed;
    dlg.m_nMaxHttpConn = v.maxHttpConn;
    dlg.m_strLinkReport = v.linkReport;
    dlg.m_strShortcutFile = v.shortcutFile;
    dlg.m_strShortcutName = v.shortcutName;
    dlg.m_strGameCode = v.gameCode;
    dlg.m_strGameName = v.gameName;
    dlg.m_strRunFile = v.runFile;
    dlg.m_strShortcutDelete = v.shortcutDelete;
    dlg.m_nTotalTimeDL = v.totalTimeDL;
    dlg.m_nTotalSizeDL = v.totalSizeDL;
}

} // namespace

DWORD WINAPI WorkerThreadProc(LPVOID param)
{
    CTollgroveDlg& dlg = *static_cast<CTollgroveDlg*>(param);
    const HWND window = dlg.GetSafeHwnd();

    dlg.m_strCachePath = g_szModuleDir + L"\\tollgrove.cache";
    dlg.m_strConfigPath = g_szModuleDir + L"\\tollgrove.dat";
    const std::wstring folded = ReadFoldedGameName(dlg.m_strConfigPath);

    if (!ObtainInstallFolder(dlg, folded)) {
        PostMessageW(window, WM_QUIT, 0, 0);
        return 0;
    }
    SetCurrentDirectoryW(dlg.m_strInstallPath.c_str());

    const std::wstring torrentUrl = ReadLinkTorrent(dlg.m_strConfigPath);
    dlg.m_strTorrentFileName = TorrentFileNameFromUrl(torrentUrl);
    dlg.m_strTorrentPath = dlg.m_strInstallPath + L"\\" + dlg.m_strTorrentFileName;
    dlg.m_strDhtStatePath = StatePathFor(dlg.m_strTorrentPath, L".dhtstate");
    dlg.m_strResumePath = StatePathFor(dlg.m_strTorrentPath, L".resume");

    DownloadJob job;
    job.path = dlg.m_strTorrentPath;
    job.url = torrentUrl;
    job.cancel = &dlg.m_bStopRequested; // a stop ends the fetch too, not only the download loop
    DownloadError fetchError = DLERR_OK;
    if (!RunDownloadJob(job, fetchError)) {
        PostMessageW(window, WM_WORKER_FINISHED, 0, WR_TORRENT_FETCH_FAILED);
        return WR_FAILED;
    }

    ReadSettings(dlg);
    dlg.m_nBytesDownloaded = 0;

    // The same identity on every report of the attempt.
    const std::wstring fileName = GetExeFileName();
    const std::wstring machineCode = Md5Hex(GetMacAddressString());
    SendReport(StatusReportUrl(dlg.m_strLinkReport, machineCode, dlg.m_strGameCode, fileName, REPORT_STARTED));

    const uint32_t startTick = GetTickCount();
    dlg.m_nStartSec = startTick / 1000;
    const int result = dlg.RunDownload();
    const uint32_t endTick = GetTickCount();
    dlg.m_nEndSec = endTick / 1000;
    const uint32_t elapsed = ElapsedSeconds(startTick, endTick);

    if (const auto totals = PlanTotals(result, elapsed, dlg.m_nBytesDownloaded, dlg.m_nTotalTimeDL, dlg.m_nTotalSizeDL)) {
        dlg.m_nBytesDownloaded = totals->totalBytes;
        if (totals->writeBack)
            WriteStoppedTotals(dlg.m_strConfigPath, static_cast<int32_t>(totals->totalBytes),
                static_cast<int32_t>(totals->totalSeconds));
        SendReport(OutcomeReportUrl(result, dlg.m_strLinkReport, dlg.m_strVersion, dlg.m_strGameCode, machineCode,
            totals->seconds, totals->bytes));
        SendReport(StatusReportUrl(dlg.m_strLinkReport, machineCode, dlg.m_strGameCode, fileName, ReportStatusFor(result)));
    }

    PostMessageW(window, WM_WORKER_FINISHED, 0, result);
    return static_cast<DWORD>(result);
}

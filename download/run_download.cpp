// The BitTorrent download of one attempt: session set-up, the once-a-second
// loop with the connection rule, and the stop sequence. Runs on the worker
// thread; every window change is a message sent to the GUI thread.
#include <windows.h>
#include <shlwapi.h>

#include <libtorrent/error_code.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/session_stats.hpp>
#include <libtorrent/torrent_info.hpp>

#include <cstdio>
#include <vector>

#include "connection_rule.h"
#include "download_error.h"
#include "engine/direct_http_engine.hpp"
#include "engine/file_disk_io.hpp"
#include "engine/load_file.hpp"
#include "option_file.h"
#include "resume_saving.h"
#include "saved_state.h"
#include "support_routines.h"
#include "test_hooks.h"
#include "text_encoding.h"
#include "torrent_placement.h"
#include "ui/tollgrove_dlg.h"
#include "ui/window_messages.h"

using namespace tollgrove;

namespace {

// Files the .torrent names under its top folder land directly in the
// install folder.
void PlaceFiles(lt::torrent_info& ti, const std::wstring& installPath)
{
    const lt::file_storage& files = ti.files();
    for (lt::file_index_t i : files.file_range()) {
        const auto placed = PlacedFilePath(installPath, FromUtf8(files.file_path(i)));
        if (placed)
            ti.rename_file(i, ToUtf8(*placed));
    }
}

// The bytes of the game itself: pad files only align files to pieces, are
// never written and never count as downloaded, so a total with them would
// stay above the downloaded figure at 100 %.
std::int64_t GameBytes(const lt::file_storage& files)
{
    std::int64_t bytes = 0;
    for (lt::file_index_t i : files.file_range())
        if (!files.pad_file_at(i))
            bytes += files.file_size(i);
    return bytes;
}

// The loop's one alert pump: every alert the session holds is popped here
// once a pass (popped alerts are gone for anyone else), so each reader of
// alerts takes its share from this loop: the DHT's node count from the
// session's counters (statistics arrive as an alert, posted whatever the
// alert mask: the ones asked for a second ago are read, and new ones are
// asked for), and the answers to the periodic resume saves (storage
// alerts, which the session's mask admits). Returns the node count.
int PumpAlerts(lt::session& session, const lt::torrent_handle& torrent, PeriodicResumeSaver& saver, int previousNodes)
{
    static const int nodesMetric = lt::find_metric_idx("dht.dht_nodes");
    std::vector<lt::alert*> alerts;
    session.pop_alerts(&alerts);
    int nodes = previousNodes;
    for (lt::alert* a : alerts) {
        if (auto* stats = lt::alert_cast<lt::session_stats_alert>(a))
            nodes = static_cast<int>(stats->counters()[nodesMetric]);
        else
            saver.OnAlert(a, torrent);
    }
    session.post_session_stats();
    return nodes;
}

} // namespace

int CTollgroveDlg::RunDownload()
{
    m_peerList.DeleteAllItems();
    try {
        const SessionOptions options = ReadOptionFile();
        lt::session_params params = ReadDhtState(m_strDhtStatePath);
        params.settings = MakeSessionSettings(options, GetTestHooks().loopbackOnly);
        // Our own disk I/O in every build, in place of the engine's choice
        // by pointer size: files stay open, the disk work runs off the
        // network thread, and a failed write stops the torrent with its
        // error (which the loop below turns into a failed attempt).
        params.disk_io_constructor = tg::file_disk_io_constructor;
        lt::session session(std::move(params));
        tg::direct_http_engine sources(session);
        sources.set_max_half_open_connections(options.limits.maxHalfOpen);
        // The sources' decisions (errors, redirects, back-offs) go to the log.
        const std::wstring moduleDir = g_szModuleDir;
        sources.set_log([moduleDir](const std::string& line) { WriteLogLineIn(moduleDir, FromUtf8(line)); });

        g_peerInfoList.clear();
        for (auto& text : m_strPaneText)
            text.clear();

        tg::torrent_handle torrent;
        std::string sourceUrl;
        AddGameTorrent(session, sources, options, torrent, sourceUrl);
        bool storageFailed = false;
        PeriodicResumeSaver saver(m_strResumePath, GetTickCount(), GetTestHooks().resumeSaveIntervalMs);
        const lt::torrent_status last = RunDownloadLoop(session, torrent, sourceUrl, saver, storageFailed);
        const int result = StopDownload(session, sources, torrent, last, saver, storageFailed);
        m_bStateSaved = TRUE;
        return result;
    } catch (const std::exception&) {
        // Nothing more will be saved: an end of the Windows session waits no longer.
        m_bStateSaved = TRUE;
        return WR_EXCEPTION;
    }
}

void CTollgroveDlg::AddGameTorrent(lt::session& session, tg::direct_http_engine& sources,
    const SessionOptions& options, tg::torrent_handle& torrent, std::string& sourceUrl)
{
    try {
        std::vector<char> torrentFile;
        if (tg::load_file(NarrowForEngine(m_strTorrentPath), torrentFile) != 0)
            throw lt::system_error(lt::errors::make_error_code(lt::errors::invalid_torrent_handle));
        auto ti = std::make_shared<lt::torrent_info>(torrentFile, lt::from_span);

        lt::add_torrent_params atp;
        std::vector<char> resume;
        if (tg::load_file(NarrowForEngine(m_strResumePath), resume) == 0) {
            std::string dropped;
            atp = ResumeParamsFor(resume, *ti, dropped);
            if (!dropped.empty())
                WriteLogLineIn(g_szModuleDir, L"Download: " + FromUtf8(dropped));
        }
        PlaceFiles(*ti, m_strInstallPath);
        atp.ti = ti;
        // The engine needs a save path; the install folder is where bare
        // file names land anyway (it is the current directory).
        atp.save_path = ToUtf8(m_strInstallPath);
        atp.storage_mode = lt::storage_mode_sparse;
        atp.flags |= lt::torrent_flags::paused | lt::torrent_flags::auto_managed;
        atp.flags &= ~lt::torrent_flags::duplicate_is_error;
        try {
            torrent = sources.add_torrent(std::move(atp), torrentFile);
        } catch (const std::exception&) {
            // The torrent stays invalid; the next call on it throws.
        }
        const lt::torrent_handle engine = torrent.native_handle();
        engine.set_download_limit(EngineRateLimit(options.limits.downloadRateLimit));
        engine.set_upload_limit(EngineRateLimit(options.limits.uploadRateLimit));
        engine.set_max_uploads(options.limits.maxUploads);
        engine.set_max_connections(options.limits.maxConnections);

        sourceUrl = NarrowUrlForEngine(FirstSourceUrl(m_strLinkHttp, ti->num_files()));
        torrent.add_url_seed(sourceUrl);

        SetDlgItemText(IDC_TXT_TOTAL_SIZE, ByteSizeText(GameBytes(ti->files())).c_str());
        m_strPaneText[0] = std::to_wstring(session.listen_port());
        SendMessage(WM_REFRESH_STATUS, 0, REFRESH_PANE_PORT);
    } catch (const std::exception&) {
        // The rest of the set-up is skipped; with no torrent the loop's
        // first call on it ends the attempt.
    }
}

lt::torrent_status CTollgroveDlg::RunDownloadLoop(lt::session& session, tg::torrent_handle& torrent,
    const std::string& sourceUrl, PeriodicResumeSaver& saver, bool& storageFailed)
{
    const TestHooks& hooks = GetTestHooks();
    std::uint32_t lastRuleTick = GetTickCount();
    std::int64_t previousBytes = 0;
    bool running = true;
    bool headlineShown = false;
    int dhtNodes = 0;
    lt::torrent_status last;
    for (;;) {
        if (m_bStopRequested)
            running = false;

        if (RuleDue(GetTickCount(), lastRuleTick, hooks.ruleIntervalMs)) {
            switch (ClassifyMinute(last.total_download - previousBytes, m_nMinSpeed, m_nMaxSpeed)) {
            case RuleVerdict::slow:
                if (torrent.num_url_seeds() < m_nMaxHttpConn)
                    torrent.add_url_seed(sourceUrl);
                break;
            case RuleVerdict::fast:
                if (torrent.num_url_seeds() > 1)
                    torrent.remove_url_seed(sourceUrl);
                break;
            case RuleVerdict::steady:
                break;
            }
            lastRuleTick = GetTickCount();
            previousBytes = last.total_download;
        }

        last = torrent.status();
        dhtNodes = PumpAlerts(session, torrent.native_handle(), saver, dhtNodes);
        saver.Tick(torrent.native_handle(), last, GetTickCount());
        ShowState(last, dhtNodes, torrent, headlineShown, running);
        // A torrent the engine stopped on an error (a full or failing
        // drive) would never progress: end the attempt as failed instead
        // of showing "downloading" until the user gives up.
        if (last.errc && (last.flags & lt::torrent_flags::paused)) {
            storageFailed = true;
            running = false;
        }

        if (!running)
            return last;
        Sleep(1000);
    }
}

int CTollgroveDlg::StopDownload(lt::session& session, tg::direct_http_engine& sources, tg::torrent_handle& torrent,
    const lt::torrent_status& last, PeriodicResumeSaver& saver, bool storageFailed)
{
    session.pause();
    // The engine flushed and closed the files when the torrent finished, and
    // again on the pause; a failure there (a drive pulled, a network drive)
    // shows only now. The game is then not complete, and the resume file
    // keeps what its last save said rather than pieces that may be lost.
    bool filesLost = false;
    if (last.state == lt::torrent_status::seeding && !storageFailed) {
        const lt::torrent_handle handle = torrent.native_handle();
        const lt::error_code ec = tg::release_failure(session, handle, lt::seconds(30),
            [&](const lt::alert* a) { saver.OnAlertUnwritten(a, handle); });
        if (ec) {
            filesLost = true;
            WriteLogLineIn(g_szModuleDir, L"Download: files not saved: " + FromUtf8(ec.message()) + L" (" + std::to_wstring(ec.value()) + L")");
        }
    }
    // A periodic save still in flight is answered first, so that the file
    // left behind is the one asked for after the pause.
    if (!filesLost)
        SaveResumeData(session, torrent.native_handle(), m_strResumePath, lt::seconds(30), saver.PendingRequests());
    sources.remove_torrent(torrent);
    MarkPeerRowsFinished();
    WriteDhtState(session, m_strDhtStatePath);
    m_nBytesDownloaded = static_cast<std::uint32_t>(last.total_download);
    if (m_bStopRequested)
        return WR_STOPPED;
    return last.state == lt::torrent_status::seeding && !storageFailed && !filesLost ? WR_COMPLETED : WR_FAILED;
}

void CTollgroveDlg::ShowState(const lt::torrent_status& st, int dhtNodes, const tg::torrent_handle& torrent,
    bool& headlineShown, bool& running)
{
    const auto showTransfer = [&] {
        SetDlgItemText(IDC_TXT_DOWNLOADED, ByteSizeText(st.total_done).c_str());
        ShowProgress(st.progress * 100.0);
        ShowSpeed(static_cast<std::uint32_t>(st.download_rate));
        if (st.download_payload_rate != 0)
            ShowRemainingTime(static_cast<std::uint32_t>((st.total_wanted - st.total_wanted_done) / st.download_payload_rate));
    };

    switch (st.state) {
    case lt::torrent_status::checking_files:
        ShowProgress(st.progress * 100.0);
        SetDlgItemText(IDC_TXT_DETAIL, (L"Đang kiểm tra tập tin [" + m_strTorrentFileName + L"]...").c_str());
        SetDlgItemText(IDC_TXT_HINT, L"Vui lòng chờ đợi trong giây lát...");
        break;
    case lt::torrent_status::downloading: {
        showTransfer();
        torrent.get_peer_info(g_peerInfoList);
        wchar_t peers[64];
        std::swprintf(peers, 64, L"%d - %d - %d", st.num_peers, st.num_seeds, dhtNodes);
        m_strPaneText[1] = peers;
        m_strPaneText[2] = ByteSizeText(st.download_payload_rate) + L"/s - " + ByteSizeText(st.upload_payload_rate) + L"/s";
        m_strPaneText[3] = ByteSizeText(st.total_payload_download) + L" - " + ByteSizeText(st.total_payload_upload);
        if (!headlineShown) {
            SetDlgItemText(IDC_TXT_DETAIL, (L"Đang tải nội dung tập tin [" + m_strTorrentPath + L"]").c_str());
            SetDlgItemText(IDC_TXT_HEADLINE, (L"Đang tải: [" + m_strGameName + L"]").c_str());
            SetDlgItemText(IDC_TXT_HINT, L"Vui lòng chờ đợi trong giây lát...");
            headlineShown = true;
        }
        SendMessage(WM_REFRESH_STATUS, 0, REFRESH_ALL);
        break;
    }
    case lt::torrent_status::seeding:
        showTransfer();
        running = false;
        break;
    default:
        break; // queued, metadata, finished, allocating, checking resume data: nothing shown
    }
}

void CTollgroveDlg::MarkPeerRowsFinished()
{
    for (int i = m_peerList.GetItemCount() - 1; i >= 0; --i) {
        const std::wstring text = m_peerList.GetItemText(i, 4);
        m_peerList.SetItemText(i, 4, text == L"Hiện đang tải" ? L"Đã tải xong" : L"Đã kết thúc");
    }
}

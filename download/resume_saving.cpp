#include "resume_saving.h"

#include "saved_state.h"

namespace tollgrove {

bool ResumeSaveDue(bool downloading, bool requestPending, std::uint32_t nowTick, std::uint32_t lastRequestTick,
                   std::uint32_t intervalMs)
{
    return downloading && !requestPending && nowTick - lastRequestTick >= intervalMs;
}

PeriodicResumeSaver::PeriodicResumeSaver(std::filesystem::path path, std::uint32_t startTick, std::uint32_t intervalMs)
    : m_path(std::move(path)), m_lastRequestTick(startTick), m_intervalMs(intervalMs)
{
}

void PeriodicResumeSaver::OnAlert(const lt::alert* a, const lt::torrent_handle& torrent)
{
    if (!m_pending)
        return;
    switch (HandleResumeAlert(a, torrent, m_path)) {
    case ResumeAnswer::none:
        return;
    case ResumeAnswer::written:
        ++m_written;
        break;
    case ResumeAnswer::failed:
        break; // the earlier file stays; the next interval tries again
    }
    m_pending = false;
}

void PeriodicResumeSaver::OnAlertUnwritten(const lt::alert* a, const lt::torrent_handle& torrent)
{
    if (m_pending && IsResumeAnswerFor(a, torrent))
        m_pending = false;
}

void PeriodicResumeSaver::Tick(const lt::torrent_handle& torrent, const lt::torrent_status& status,
                               std::uint32_t nowTick)
{
    // While the files are checked the engine knows only part of what is on
    // disk: a save then would make the next start fetch the rest again.
    const bool downloading = status.has_metadata &&
        (status.state == lt::torrent_status::downloading || status.state == lt::torrent_status::finished);
    // Until the engine has something new, it is asked again every pass.
    if (!ResumeSaveDue(downloading, m_pending, nowTick, m_lastRequestTick, m_intervalMs) ||
        !torrent.need_save_resume_data())
        return;
    // The disk's outstanding writes are finished first, so that the pieces
    // the data calls complete are on disk when the file is.
    torrent.save_resume_data(lt::torrent_handle::flush_disk_cache);
    m_pending = true;
    m_lastRequestTick = nowTick;
}

} // namespace tollgrove

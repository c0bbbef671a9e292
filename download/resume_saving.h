// The resume file kept fresh while the torrent downloads, so that a crash,
// a power cut or the end of the Windows session loses at most about a
// minute of progress: once a pass the download loop asks whether a save is
// due, and the loop's one alert pump hands every alert it pops to the
// saver, which writes the answers. Portable; worker thread only; never
// blocks on the engine (the request is asynchronous, the answer is an
// alert), only on the disk when an answer is written.
#pragma once

#include <cstdint>
#include <filesystem>

#include <libtorrent/alert.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_status.hpp>

namespace tollgrove {

constexpr std::uint32_t kResumeSaveIntervalMs = 60000;

// True when the engine is to be asked whether the resume data changed (and
// then for the data): the torrent is downloading, no earlier request is
// still unanswered, and at least `intervalMs` passed since the last request
// (an unsigned tick difference, so the counter's wrap does not disturb it).
bool ResumeSaveDue(bool downloading, bool requestPending, std::uint32_t nowTick, std::uint32_t lastRequestTick,
    std::uint32_t intervalMs = kResumeSaveIntervalMs);

class PeriodicResumeSaver
{
public:
    // `startTick`: the loop's start; the first save comes an interval later.
    PeriodicResumeSaver(std::filesystem::path path, std::uint32_t startTick,
        std::uint32_t intervalMs = kResumeSaveIntervalMs);

    // One alert of the loop's pump: an answer for `torrent` is written to
    // the resume file (through a temporary file) and ends the request.
    void OnAlert(const lt::alert* a, const lt::torrent_handle& torrent);

    // An alert popped while the game's files are checked at the end: an
    // answer ends the request unwritten, since it may claim pieces that the
    // check finds lost; the stop's own save follows when they are not.
    void OnAlertUnwritten(const lt::alert* a, const lt::torrent_handle& torrent);

    // Once a pass, after the status was read: asks for the resume data when
    // a save is due. May throw as every engine call on the torrent does.
    void Tick(const lt::torrent_handle& torrent, const lt::torrent_status& status, std::uint32_t nowTick);

    // Requests whose answer has not come yet (0 or 1); the stop sequence
    // waits for them before making its own.
    int PendingRequests() const { return m_pending ? 1 : 0; }

    // Answers written so far.
    int FilesWritten() const { return m_written; }

private:
    std::filesystem::path m_path;
    std::uint32_t m_lastRequestTick;
    std::uint32_t m_intervalMs;
    bool m_pending = false;
    int m_written = 0;
};

} // namespace tollgrove

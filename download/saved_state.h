// The files an attempt leaves for the next one: the DHT state and the resume
// data, both bencoded. Portable; called on the worker thread, may block.
#pragma once

#include <filesystem>

#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>

#include "replace_file.h"

namespace tollgrove {

// Session parameters carrying the DHT state read from `path`. A missing,
// empty or malformed file gives parameters without saved nodes.
lt::session_params ReadDhtState(const std::filesystem::path& path);

// Writes the session's DHT state to `path`; false when it could not.
bool WriteDhtState(const lt::session& session, const std::filesystem::path& path);

// Asks for the torrent's resume data and writes it to `path` when it comes.
// Each wait lasts up to `waitLimit`; other alerts are taken off the queue
// and the wait starts again. Nothing is written when no data comes.
// `earlierRequests` counts requests for this torrent still unanswered (a
// periodic save in flight): their answers are waited for first, and written
// as they come, before this request is made, so that the last file written
// is always this request's and no answer is left behind in the queue.
// Returns true when this request's file was written.
bool SaveResumeData(lt::session& session, const lt::torrent_handle& torrent, const std::filesystem::path& path,
                    lt::time_duration waitLimit = lt::seconds(30), int earlierRequests = 0);

// The add parameters an attempt starts from: the resume file's `bytes` as
// the engine reads them, when they are resume data of `torrent`. Damaged
// bytes, or resume data of another torrent (the publisher replaced the
// .torrent at the same address), give empty parameters, so the engine
// checks the files on disk instead; the engine would refuse the other
// torrent's info-hash on every attempt. `dropped` tells why, for the log.
lt::add_torrent_params ResumeParamsFor(const std::vector<char>& bytes, const lt::torrent_info& torrent,
                                       std::string& dropped);

// What one alert means to a resume request of `torrent`.
enum class ResumeAnswer {
    none,    // not an answer for this torrent
    written, // its resume data, written to the file
    failed,  // its data did not come, or the file could not be written
};
// Whether an alert answers a resume request of `torrent`: its data, or
// the engine's word that the data did not come.
bool IsResumeAnswerFor(const lt::alert* a, const lt::torrent_handle& torrent);
ResumeAnswer HandleResumeAlert(const lt::alert* a, const lt::torrent_handle& torrent,
                               const std::filesystem::path& path);

} // namespace tollgrove

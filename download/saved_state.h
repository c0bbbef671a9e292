// The files an attempt leaves for the next one: the DHT state and the resume
// data, both bencoded. Portable; called on the worker thread, may block.
#pragma once

#include <filesystem>

#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/torrent_handle.hpp>

namespace tollgrove {

// Session parameters carrying the DHT state read from `path`. A missing,
// empty or malformed file gives parameters without saved nodes.
lt::session_params ReadDhtState(const std::filesystem::path& path);

// Writes the session's DHT state to `path`; false when it could not.
bool WriteDhtState(const lt::session& session, const std::filesystem::path& path);

// Asks for the torrent's resume data and writes it to `path` when it comes.
// Each wait lasts up to `waitLimit`; other alerts are taken off the queue
// and the wait starts again. Nothing is written when no data comes.
// Returns true when the file was written.
bool SaveResumeData(lt::session& session, const lt::torrent_handle& torrent, const std::filesystem::path& path,
    lt::time_duration waitLimit = lt::seconds(30));

// Replaces `path` with `bytes` through a temporary file beside it, so an
// interrupted write never leaves a half-written file for the next attempt.
bool ReplaceFileContents(const std::filesystem::path& path, const std::vector<char>& bytes);

} // namespace tollgrove

#include "saved_state.h"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/bdecode.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/write_resume_data.hpp>

#include "engine/direct_http_engine.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

namespace tollgrove {

// The DHT state is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxDhtStateBytes = 16 * 1024 * 1024;

lt::session_params ReadDhtState(const std::filesystem::path& path)
{
    try {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (ec || size == 0 || size > kMaxDhtStateBytes)
            return {};
        std::ifstream in(path, std::ios::binary);
        std::vector<char> buf{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        lt::error_code bec;
        lt::bdecode_node node = lt::bdecode(buf, bec);
        if (bec)
            return {};
        return lt::read_session_params(node, lt::session_handle::save_dht_state);
    } catch (const std::exception&) {
        return {};
    }
}

lt::add_torrent_params ResumeParamsFor(const std::vector<char>& bytes, const lt::torrent_info& torrent,
                                       std::string& dropped)
{
    dropped.clear();
    if (bytes.empty())
        return {};
    lt::error_code ec;
    lt::add_torrent_params params = lt::read_resume_data(bytes, ec);
    if (ec) {
        dropped = "resume data unreadable (" + ec.message() + "), checking the files instead";
        return {};
    }
    // The engine's own test when it adds: each hash the resume data has
    // must be the torrent's.
    const lt::info_hash_t& own = torrent.info_hashes();
    const lt::info_hash_t& saved = params.info_hashes;
    if ((saved.has_v1() && saved.v1 != own.v1) || (saved.has_v2() && saved.v2 != own.v2)) {
        dropped = "resume data of another torrent, checking the files instead";
        return {};
    }
    return params;
}

bool WriteDhtState(const lt::session& session, const std::filesystem::path& path)
{
    const lt::session_params state = session.session_state(lt::session_handle::save_dht_state);
    return ReplaceFileContents(path, lt::write_session_params_buf(state, lt::session_handle::save_dht_state));
}

bool IsResumeAnswerFor(const lt::alert* a, const lt::torrent_handle& torrent)
{
    if (const auto* done = lt::alert_cast<lt::save_resume_data_alert>(a))
        return done->handle == torrent;
    // The engine reports a failed save as an alert of its own; waiting on
    // would only run into the time limit.
    if (const auto* failed = lt::alert_cast<lt::save_resume_data_failed_alert>(a))
        return failed->handle == torrent;
    return false;
}

ResumeAnswer HandleResumeAlert(const lt::alert* a, const lt::torrent_handle& torrent, const std::filesystem::path& path)
{
    if (!IsResumeAnswerFor(a, torrent))
        return ResumeAnswer::none;
    const auto* done = lt::alert_cast<lt::save_resume_data_alert>(a);
    if (!done)
        return ResumeAnswer::failed;
    // Sources are never carried over in the resume file.
    return ReplaceFileContents(path, tg::write_resume_data_buf(done->params)) ? ResumeAnswer::written
                                                                              : ResumeAnswer::failed;
}

namespace {

// Pops alerts until `answers` answers for the torrent came, each wait up
// to `waitLimit`. The last answer's kind, or none when the waits ran out.
ResumeAnswer WaitForAnswers(lt::session& session, const lt::torrent_handle& torrent, const std::filesystem::path& path,
                            lt::time_duration waitLimit, int answers)
{
    ResumeAnswer last = ResumeAnswer::none;
    while (answers > 0) {
        if (session.wait_for_alert(waitLimit) == nullptr)
            return ResumeAnswer::none; // no answer within the limit: the earlier file stays
        std::vector<lt::alert*> alerts;
        session.pop_alerts(&alerts);
        for (lt::alert* a : alerts) {
            // Answers after the awaited ones cannot be: no other request
            // was made meanwhile.
            const ResumeAnswer answer = answers > 0 ? HandleResumeAlert(a, torrent, path) : ResumeAnswer::none;
            if (answer != ResumeAnswer::none) {
                last = answer;
                --answers;
            }
        }
    }
    return last;
}

} // namespace

bool SaveResumeData(lt::session& session, const lt::torrent_handle& torrent, const std::filesystem::path& path,
                    lt::time_duration waitLimit, int earlierRequests)
{
    if (earlierRequests > 0 && torrent.is_valid())
        WaitForAnswers(session, torrent, path, waitLimit, earlierRequests);
    torrent.save_resume_data(lt::torrent_handle::flush_disk_cache);
    if (!torrent.is_valid() || !torrent.status(lt::status_flags_t{}).has_metadata)
        return false;
    return WaitForAnswers(session, torrent, path, waitLimit, 1) == ResumeAnswer::written;
}

} // namespace tollgrove

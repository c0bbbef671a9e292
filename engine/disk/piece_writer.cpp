#include "engine/disk/piece_writer.hpp"

#include <algorithm>
#include <optional>

#include "engine/disk/block_store.hpp"
#include "engine/disk/positional_file.hpp"
#include "engine/disk/torrent_files.hpp"

namespace tg {

namespace {

void forget_written_hash(torrent_writes& w, lt::piece_index_t piece)
{
    w.written_hashes.erase(std::remove_if(w.written_hashes.begin(), w.written_hashes.end(),
                                          [&](auto const& h) { return h.first == piece; }),
                           w.written_hashes.end());
}

// Extends the piece's hash by the written blocks [i, k) of `batch` that
// continue it in order.
void hash_in_order(torrent_writes& w, std::mutex& mutex, std::vector<std::unique_ptr<disk_job>> const& batch,
                   std::size_t i, std::size_t k)
{
    piece_writes* pw;
    {
        std::lock_guard<std::mutex> l(mutex);
        auto it = w.pieces.find(batch[i]->write()->request.piece);
        if (it == w.pieces.end())
            return;
        pw = &it->second;
        if (pw->spoilt || pw->hashing)
            return;
        // Blocks before the hash's end were hashed already (written
        // again, they spoil it elsewhere); a gap stops it.
        while (i < k && batch[i]->write()->request.start < pw->hashed)
            ++i;
        if (i == k || pw->hashed != batch[i]->write()->request.start)
            return;
        pw->hashing = true;
    }
    // The entry stays while these writes are pending; only this thread
    // touches the hasher while `hashing` is set.
    int added = 0;
    for (std::size_t b = i; b < k; ++b) {
        write_job const& wj = *batch[b]->write();
        pw->hasher.update(wj.buffer, wj.request.length);
        added += wj.request.length;
    }
    std::lock_guard<std::mutex> l(mutex);
    pw->hashed += added;
    pw->hashing = false;
}

} // namespace

void write_accepted(torrent_writes& w, lt::peer_request const& r)
{
    auto& pw = w.pieces[r.piece];
    if (pw.pending == 0 && pw.failure) {
        // The piece comes again after its failure: a fresh start, but a
        // thread still finishing with it keeps it.
        bool const busy = pw.writer_busy;
        pw = piece_writes();
        pw.writer_busy = busy;
    }
    ++pw.pending;
    // A block that comes again before the piece is done may differ from
    // its first copy: the blocks' hash cannot tell which one landed.
    std::size_t const nth = std::size_t(r.start / block_size);
    if (pw.seen.size() <= nth)
        pw.seen.resize(nth + 1);
    if (pw.seen[nth])
        pw.spoilt = true;
    pw.seen[nth] = true;
    forget_written_hash(w, r.piece);
}

void hash_asked(torrent_writes const& w, hash_job& h)
{
    auto const p = w.pieces.find(h.piece);
    if (p != w.pieces.end() && p->second.pending == 0 && p->second.failure)
        h.prior = p->second.failure;
    else if (p == w.pieces.end() || p->second.pending == 0) {
        auto it = std::find_if(w.written_hashes.begin(), w.written_hashes.end(),
                               [&](auto const& written) { return written.first == h.piece; });
        if (it != w.written_hashes.end())
            h.from_blocks = it->second;
    }
}

bool park_hash(torrent_writes& w, std::unique_ptr<disk_job>& j)
{
    auto it = w.pieces.find(j->hash()->piece);
    if (it == w.pieces.end() || it->second.pending == 0)
        return false;
    it->second.waiting.push_back(std::move(j));
    return true;
}

void clear_piece(torrent_writes& w, lt::piece_index_t piece)
{
    forget_written_hash(w, piece);
    auto const p = w.pieces.find(piece);
    if (p != w.pieces.end() && p->second.pending == 0)
        w.pieces.erase(p);
}

std::vector<std::unique_ptr<disk_job>> write_finished(torrent_writes& w, lt::piece_index_t piece, int piece_size,
                                                      lt::storage_error const& e)
{
    auto wit = w.pieces.find(piece);
    if (wit == w.pieces.end())
        return {};
    auto& pw = wit->second;
    if (e && !pw.failure)
        pw.failure = e;
    if (--pw.pending > 0)
        return {};
    auto waiting = std::move(pw.waiting);
    lt::storage_error const failure = pw.failure;
    std::optional<lt::sha1_hash> whole;
    if (!failure && !pw.spoilt && pw.hashed == piece_size)
        whole = pw.hasher.final();
    // A piece whose blocks come one at a time keeps its partial hash
    // between them, until it is whole or hashed.
    bool const partial = waiting.empty() && !failure && !pw.spoilt && pw.hashed > 0 && pw.hashed < piece_size;
    // A failure stays with the piece for a hash asked for later, until the
    // piece is cleared or comes again.
    if (!partial && !failure)
        w.pieces.erase(wit);
    if (whole && waiting.empty()) {
        w.written_hashes.emplace_back(piece, *whole);
        if (w.written_hashes.size() > 64)
            w.written_hashes.pop_front();
    }
    for (auto& waiter : waiting) {
        waiter->hash()->prior = failure;
        waiter->hash()->from_blocks = whole;
    }
    return waiting;
}

bool claim_writer(torrent_writes& w, std::unique_ptr<disk_job>& j)
{
    auto& pw = w.pieces[j->write()->request.piece];
    if (pw.writer_busy) {
        pw.deferred.push_back(std::move(j));
        return false;
    }
    pw.writer_busy = true;
    return true;
}

std::vector<std::unique_ptr<disk_job>> next_for_writer(torrent_writes& w, lt::piece_index_t piece)
{
    // Pending writes keep the entry; none pending, none deferred.
    auto it = w.pieces.find(piece);
    if (it == w.pieces.end())
        return {};
    if (it->second.deferred.empty()) {
        it->second.writer_busy = false;
        return {};
    }
    auto next = std::move(it->second.deferred);
    it->second.deferred.clear();
    return next;
}

bool writer_busy(torrent_writes const& w, lt::piece_index_t piece)
{
    auto const it = w.pieces.find(piece);
    return it != w.pieces.end() && it->second.writer_busy;
}

std::vector<lt::storage_error> write_batch(torrent_files& files, torrent_writes& w, std::mutex& mutex,
                                           std::vector<std::unique_ptr<disk_job>> const& batch,
                                           std::vector<char>& staging)
{
    lt::piece_index_t const piece = batch.front()->write()->request.piece;
    std::vector<lt::storage_error> errors(batch.size());
    for (std::size_t i = 0; i < batch.size();) {
        write_job const& first = *batch[i]->write();
        std::vector<positional_file::part> parts{{first.buffer, first.request.length}};
        int length = first.request.length;
        std::size_t k = i + 1;
        while (k < batch.size() && batch[k]->write()->flags == first.flags &&
               batch[k]->write()->request.start ==
                   batch[k - 1]->write()->request.start + batch[k - 1]->write()->request.length) {
            parts.push_back({batch[k]->write()->buffer, batch[k]->write()->request.length});
            length += batch[k]->write()->request.length;
            ++k;
        }
        lt::storage_error e;
        files.write_blocks(piece, first.request.start, parts, length, first.flags, staging, e);
        for (std::size_t b = i; b < k; ++b)
            errors[b] = e;
        if (!e)
            hash_in_order(w, mutex, batch, i, k);
        i = k;
    }
    // A flush or close that failed since (a file evicted from the set, or
    // closed by a release) is reported with the torrent's next write: that
    // is the written data it may have lost.
    for (std::size_t b = 0; b < batch.size(); ++b) {
        if (!errors[b]) {
            files.report_close_failure(errors[b]);
            break;
        }
    }
    return errors;
}

} // namespace tg

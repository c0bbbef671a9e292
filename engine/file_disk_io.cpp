#include "engine/file_disk_io.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/asio/post.hpp>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/disk_observer.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_handle.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_handle.hpp>

#include "engine/disk/open_file_set.hpp"
#include "engine/disk/positional_file.hpp"

namespace tg {

namespace {

class write_failure_category_impl final : public boost::system::error_category
{
public:
    char const* name() const noexcept override { return "disk write"; }
    std::string message(int ev) const override { return boost::system::system_category().message(ev); }
};

constexpr int block_size = lt::default_block_size;

lt::storage_error make_error(error_code ec, lt::file_index_t file, lt::operation_t op)
{
    lt::storage_error e;
    e.ec = ec;
    e.file(file);
    e.operation = op;
    return e;
}

// A write-side failure keeps its number but leaves the generic conditions.
error_code as_write_failure(error_code const& ec)
{
    if (ec.category() == boost::system::system_category() || ec.category() == boost::system::generic_category())
        return error_code(ec.value(), write_failure_category());
    return ec;
}

bool is_missing(error_code const& ec) { return ec == boost::system::errc::no_such_file_or_directory; }

std::uint64_t block_key(lt::piece_index_t piece, int offset)
{
    return (std::uint64_t(static_cast<int>(piece)) << 32) | std::uint32_t(offset);
}

struct disk_job;

struct piece_writes
{
    int pending = 0;
    // A hash waits here until the piece's writes are on disk, so that a
    // piece is never reported good while its data could still fail to land.
    std::vector<std::unique_ptr<disk_job>> waiting;
    lt::storage_error failure;
    // SHA-1 of the piece's blocks written in order from its start, taken
    // from the block on its way to disk, so that a piece that comes in order
    // (the HTTP sources deliver whole pieces) needs no read-back to hash.
    // One thread at a time extends it (`hashing`); a block written out of
    // turn leaves it short, and a block written again spoils it.
    lt::hasher hasher;
    int hashed = 0;
    bool hashing = false;
    bool spoilt = false;
    std::vector<bool> seen;
    // A thread is writing this piece; writes for it that other threads take
    // from the queue wait here for that thread.
    bool writer_busy = false;
    std::vector<std::unique_ptr<disk_job>> deferred;
};

// One torrent's files as the disk threads see them.
struct storage_state
{
    storage_state(lt::storage_params const& p, std::uint32_t index)
        : original(p.files), save_path(p.path), priorities(p.priorities), index(index)
    {
        if (p.mapped_files)
            renamed = std::make_unique<lt::file_storage>(*p.mapped_files);
    }

    lt::file_storage const& files() const { return renamed ? *renamed : original; }
    std::string path_of(lt::file_index_t f) const { return files().file_path(f, save_path); }

    // The torrent's own file list; it outlives the storage (the torrent
    // keeps it while any of its jobs is outstanding).
    lt::file_storage const& original;
    std::unique_ptr<lt::file_storage> renamed;
    std::string save_path;
    lt::aux::vector<lt::download_priority_t, lt::file_index_t> priorities;
    std::uint32_t const index;

    // Guarded by the disk I/O's mutex from here on.
    // Jobs queued or running (fences included) and those parked below.
    int in_flight = 0;
    bool fence_active = false;
    // Jobs that arrived behind a fence, in order.
    std::deque<std::unique_ptr<disk_job>> blocked;
    // Blocks accepted by async_write and not yet written.
    std::unordered_map<std::uint64_t, std::pair<char*, int>> store;
    std::map<lt::piece_index_t, piece_writes> writes;
    // Whole-piece hashes made from the blocks, for a hash asked for after
    // the piece's writes are done; a few, newest last.
    std::deque<std::pair<lt::piece_index_t, lt::sha1_hash>> written_hashes;
};

struct disk_job
{
    enum class kind : std::uint8_t { write, other };
    kind what = kind::other;
    // Fences wait for every earlier job of their storage and hold back every
    // later one: they close files or change the layout under the others.
    bool fence = false;
    std::shared_ptr<storage_state> storage;

    // A write: the block, held in the store buffer until written.
    lt::peer_request request;
    char* buffer = nullptr;
    lt::disk_job_flags_t flags;
    std::function<void(lt::storage_error const&)> write_handler;

    // Any other job: its work, run on a disk thread, returns the completion
    // to run on the network thread.
    std::function<std::function<void()>(disk_job&)> work;
    // A hash that waited for its piece's writes: the first of them that
    // failed, or else the piece's hash made from the blocks (if whole).
    lt::storage_error prior;
    std::optional<lt::sha1_hash> from_blocks;
    // A hash: its piece, whose pending writes it waits for.
    lt::piece_index_t hash_piece{-1};
};

class file_disk_io final : public lt::disk_interface, public lt::buffer_allocator_interface
{
public:
    file_disk_io(lt::io_context& ios, lt::settings_interface const& settings, lt::counters& counters)
        : m_ios(ios), m_settings(settings), m_counters(counters), m_files(40)
    {
        settings_updated();
        int const threads = std::clamp(settings.get_int(lt::settings_pack::aio_threads), 1, 4);
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { thread_loop(); });
    }

    ~file_disk_io() override
    {
        abort(true);
        std::lock_guard<std::mutex> l(m_mutex);
        for (char* b : m_free_blocks)
            delete[] b;
    }

    // --- buffers -----------------------------------------------------------

    void free_disk_buffer(char* b) override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        release_block(b);
    }

    // --- storages ----------------------------------------------------------

    lt::storage_holder new_torrent(lt::storage_params const& p, std::shared_ptr<void> const&) override
    {
        std::uint32_t index;
        std::lock_guard<std::mutex> l(m_mutex);
        if (!m_free_slots.empty()) {
            index = m_free_slots.back();
            m_free_slots.pop_back();
        } else {
            index = std::uint32_t(m_storages.size());
            m_storages.emplace_back();
        }
        m_storages[index] = std::make_shared<storage_state>(p, index);
        return lt::storage_holder(lt::storage_index_t(index), *this);
    }

    void remove_torrent(lt::storage_index_t idx) override
    {
        std::uint32_t const index = static_cast<std::uint32_t>(idx);
        {
            std::lock_guard<std::mutex> l(m_mutex);
            // Jobs still running keep their storage alive through their own
            // reference; the slot can be reused at once.
            m_storages[index].reset();
            m_free_slots.push_back(index);
        }
        m_files.close_storage(index);
        m_files.take_close_failures(index);
    }

    // --- reads and writes ----------------------------------------------------

    void async_read(lt::storage_index_t idx, lt::peer_request const& r,
        std::function<void(lt::disk_buffer_holder, lt::storage_error const&)> handler,
        lt::disk_job_flags_t) override
    {
        auto st = storage(idx);
        char* buf;
        {
            std::lock_guard<std::mutex> l(m_mutex);
            buf = take_block();
            // A block still in the store buffer is read from memory.
            auto it = st->store.find(block_key(r.piece, r.start));
            if (it != st->store.end() && it->second.second >= r.length) {
                std::memcpy(buf, it->second.first, std::size_t(r.length));
                complete([this, buf, len = r.length, h = std::move(handler)] {
                    h(lt::disk_buffer_holder(*this, buf, len), lt::storage_error());
                });
                return;
            }
        }
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        j->work = [this, st, r, buf, h = std::move(handler)](disk_job&) mutable {
            lt::storage_error e;
            report_close_failure(*st, e, false);
            if (!e)
                read_block(*st, r.piece, r.start, buf, r.length, e);
            return std::function<void()>([this, buf, len = r.length, e, h = std::move(h)] {
                h(lt::disk_buffer_holder(*this, buf, len), e);
            });
        };
        add_job(std::move(j));
    }

    bool async_write(lt::storage_index_t idx, lt::peer_request const& r, char const* data,
        std::shared_ptr<lt::disk_observer> o, std::function<void(lt::storage_error const&)> handler,
        lt::disk_job_flags_t flags) override
    {
        auto st = storage(idx);
        auto j = std::make_unique<disk_job>();
        j->what = disk_job::kind::write;
        j->storage = st;
        j->request = r;
        j->flags = flags;
        j->write_handler = std::move(handler);

        std::unique_lock<std::mutex> l(m_mutex);
        // A caller that does not wait when asked (the engine's add_piece
        // passes no observer) is held here, briefly, rather than let the
        // buffer grow without bound: the disk threads drain it without the
        // network thread's help.
        m_room.wait(l, [&] { return m_store_bytes < m_high_mark * hard_limit_factor || m_abort; });
        j->buffer = take_block();
        std::memcpy(j->buffer, data, std::size_t(r.length));
        st->store[block_key(r.piece, r.start)] = {j->buffer, r.length};
        auto& pw = st->writes[r.piece];
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
        forget_written_hash(*st, r.piece);
        m_store_bytes += r.length;
        bool const full = m_store_bytes >= m_high_mark;
        if (full) {
            m_exceeded = true;
            if (o)
                m_observers.push_back(std::move(o));
        }
        add_job_locked(std::move(j));
        return full;
    }

    // --- hashes --------------------------------------------------------------

    void async_hash(lt::storage_index_t idx, lt::piece_index_t piece, lt::span<lt::sha256_hash> v2,
        lt::disk_job_flags_t flags,
        std::function<void(lt::piece_index_t, lt::sha1_hash const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        bool const v1 = bool(flags & lt::disk_interface::v1_hash);
        j->work = [this, st, piece, v2, v1, h = std::move(handler)](disk_job& self) mutable {
            lt::storage_error e = self.prior;
            lt::sha1_hash hash;
            if (!e && self.from_blocks && v1 && v2.empty())
                hash = *self.from_blocks;
            else if (!e)
                hash = hash_piece(*st, piece, v1, v2, e);
            return std::function<void()>([piece, hash, e, h = std::move(h)] { h(piece, hash, e); });
        };
        add_hash_job(std::move(j), piece);
    }

    void async_hash2(lt::storage_index_t idx, lt::piece_index_t piece, int offset, lt::disk_job_flags_t,
        std::function<void(lt::piece_index_t, lt::sha256_hash const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        j->work = [this, st, piece, offset, h = std::move(handler)](disk_job& self) mutable {
            lt::storage_error e = self.prior;
            lt::sha256_hash hash;
            if (!e) {
                int const len = std::min(block_size, st->files().piece_size2(piece) - offset);
                std::vector<char> buf(std::size_t(std::max(len, 0)));
                if (len > 0 && read_block(*st, piece, offset, buf.data(), len, e))
                    hash = lt::hasher256(buf.data(), len).final();
            }
            return std::function<void()>([piece, hash, e, h = std::move(h)] { h(piece, hash, e); });
        };
        add_hash_job(std::move(j), piece);
    }

    // --- fences ----------------------------------------------------------------

    void async_move_storage(lt::storage_index_t idx, std::string p, lt::move_flags_t flags,
        std::function<void(lt::status_t, std::string const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, p = std::move(p), flags, h = std::move(handler)]() mutable {
            lt::storage_error e;
            lt::status_t const s = move_storage(*st, p, flags, e);
            return std::function<void()>([s, e, path = st->save_path, h = std::move(h)] { h(s, path, e); });
        });
    }

    void async_release_files(lt::storage_index_t idx, std::function<void()> handler) override
    {
        auto st = storage(idx);
        // The engine releases a torrent's files when it finishes, is paused
        // or saves its resume data with a flush: the written files are
        // committed and closed here, and what failed is reported by the
        // torrent's next read or write (the handler takes no error).
        add_fence(st, [this, st, h = std::move(handler)]() mutable {
            m_files.close_storage(st->index, true);
            return std::function<void()>([h = std::move(h)] {
                if (h)
                    h();
            });
        });
    }

    void async_stop_torrent(lt::storage_index_t idx, std::function<void()> handler) override
    {
        async_release_files(idx, std::move(handler));
    }

    void async_check_files(lt::storage_index_t idx, lt::add_torrent_params const* resume_data,
        lt::aux::vector<std::string, lt::file_index_t>,
        std::function<void(lt::status_t, lt::storage_error const&)> handler) override
    {
        // Linked files (mutable torrents) are not used by this program; the
        // links are ignored.
        auto st = storage(idx);
        std::shared_ptr<lt::add_torrent_params const> rd;
        if (resume_data)
            rd = std::make_shared<lt::add_torrent_params>(*resume_data);
        bool const no_recheck = m_settings.get_bool(lt::settings_pack::no_recheck_incomplete_resume);
        add_fence(st, [this, st, rd, no_recheck, h = std::move(handler)]() mutable {
            lt::storage_error e;
            lt::status_t const s = check_files(*st, rd.get(), no_recheck, e);
            return std::function<void()>([s, e, h = std::move(h)] { h(s, e); });
        });
    }

    void async_rename_file(lt::storage_index_t idx, lt::file_index_t index, std::string name,
        std::function<void(std::string const&, lt::file_index_t, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, index, name = std::move(name), h = std::move(handler)]() mutable {
            lt::storage_error e;
            rename_file(*st, index, name, e);
            return std::function<void()>(
                [index, e, name = std::move(name), h = std::move(h)] { h(name, index, e); });
        });
    }

    void async_delete_files(lt::storage_index_t idx, lt::remove_flags_t options,
        std::function<void(lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, options, h = std::move(handler)]() mutable {
            lt::storage_error e;
            m_files.close_storage(st->index);
            // There are no part files to remove (see async_set_file_priority).
            if (options & lt::session_handle::delete_files)
                delete_files(*st, e);
            return std::function<void()>([e, h = std::move(h)] { h(e); });
        });
    }

    // --- instant jobs --------------------------------------------------------

    void async_set_file_priority(lt::storage_index_t idx, lt::aux::vector<lt::download_priority_t, lt::file_index_t> prio,
        std::function<void(lt::storage_error const&, lt::aux::vector<lt::download_priority_t, lt::file_index_t>)> handler)
        override
    {
        // Files of priority 0 need no part file in this program: every block
        // the engine writes goes to its file's own place, which is created
        // if needed. A piece shared with a skipped file thus creates that
        // file, sparse, holding only the shared bytes; nothing else changes,
        // so the new priorities are only kept for the resume check.
        auto st = storage(idx);
        {
            std::lock_guard<std::mutex> l(m_mutex);
            st->priorities = prio;
            complete([p = std::move(prio), h = std::move(handler)]() mutable { h(lt::storage_error(), std::move(p)); });
        }
    }

    void async_clear_piece(lt::storage_index_t idx, lt::piece_index_t index, std::function<void(lt::piece_index_t)> handler) override
    {
        // Nothing else of a piece stays behind once its hash ran: hashes wait
        // for the piece's writes, and the store buffer holds only pending
        // writes.
        auto st = storage(idx);
        std::lock_guard<std::mutex> l(m_mutex);
        forget_written_hash(*st, index);
        auto const w = st->writes.find(index);
        if (w != st->writes.end() && w->second.pending == 0)
            st->writes.erase(w);
        complete([index, h = std::move(handler)] { h(index); });
    }

    // --- the rest ----------------------------------------------------------------

    void update_stats_counters(lt::counters&) const override {}

    std::vector<lt::open_file_state> get_status(lt::storage_index_t idx) const override
    {
        std::vector<lt::open_file_state> out;
        auto const now = lt::clock_type::now();
        for (auto const& f : m_files.files_of(static_cast<std::uint32_t>(idx)))
            out.push_back({lt::file_index_t(f.first),
                f.second ? lt::file_open_mode::read_write : lt::file_open_mode::read_only, now});
        return out;
    }

    void abort(bool wait) override
    {
        {
            std::lock_guard<std::mutex> l(m_mutex);
            m_abort = true;
        }
        m_work.notify_all();
        m_room.notify_all();
        if (!wait)
            return;
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
        m_files.close_all();
    }

    void submit_jobs() override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        wake_another();
    }

    void settings_updated() override
    {
        int const limit = m_settings.get_int(lt::settings_pack::file_pool_size);
        m_files.set_limit(std::clamp(limit, 4, 512));
        std::lock_guard<std::mutex> l(m_mutex);
        m_high_mark = std::max(m_settings.get_int(lt::settings_pack::max_queued_disk_bytes), store_buffer_floor);
    }

private:
    std::shared_ptr<storage_state> storage(lt::storage_index_t idx)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_storages[static_cast<std::uint32_t>(idx)];
    }

    // Block buffers: 16 KiB each, a few kept for reuse. Under m_mutex.
    char* take_block()
    {
        if (!m_free_blocks.empty()) {
            char* b = m_free_blocks.back();
            m_free_blocks.pop_back();
            return b;
        }
        return new char[block_size];
    }

    void release_block(char* b)
    {
        // Kept up to what the store buffer can hold: freed and allocated
        // again, blocks cost a page fault per page each time, and the store
        // is bounded anyway.
        if (m_free_blocks.size() < std::size_t(m_high_mark) * hard_limit_factor / block_size)
            m_free_blocks.push_back(b);
        else
            delete[] b;
    }

    // Completions gather in one list; the network thread is woken once per
    // batch, not once per job (under Wine each wake costs a server call).
    // Under m_mutex or not: it takes its own lock.
    void complete(std::function<void()> f)
    {
        bool first;
        {
            std::lock_guard<std::mutex> l(m_done_mutex);
            first = m_done.empty();
            m_done.push_back(std::move(f));
        }
        if (first)
            boost::asio::post(m_ios, [this] { run_completions(); });
    }

    void run_completions()
    {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> l(m_done_mutex);
            batch.swap(m_done);
        }
        for (auto& f : batch)
            f();
    }

    void add_job(std::unique_ptr<disk_job> j)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        add_job_locked(std::move(j));
    }

    void add_fence(std::shared_ptr<storage_state> const& st, std::function<std::function<void()>()> work)
    {
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        j->fence = true;
        j->work = [w = std::move(work)](disk_job&) { return w(); };
        add_job(std::move(j));
    }

    void add_hash_job(std::unique_ptr<disk_job> j, lt::piece_index_t piece)
    {
        j->hash_piece = piece;
        std::lock_guard<std::mutex> l(m_mutex);
        auto& st = *j->storage;
        auto const w = st.writes.find(piece);
        if (w != st.writes.end() && w->second.pending == 0 && w->second.failure)
            j->prior = w->second.failure;
        else if (w == st.writes.end() || w->second.pending == 0) {
            auto it = std::find_if(st.written_hashes.begin(), st.written_hashes.end(),
                [&](auto const& h) { return h.first == piece; });
            if (it != st.written_hashes.end())
                j->from_blocks = it->second;
        }
        add_job_locked(std::move(j));
    }

    // Under m_mutex.
    static void forget_written_hash(storage_state& st, lt::piece_index_t piece)
    {
        st.written_hashes.erase(std::remove_if(st.written_hashes.begin(), st.written_hashes.end(),
                                    [&](auto const& h) { return h.first == piece; }),
            st.written_hashes.end());
    }

    // Under m_mutex.
    void add_job_locked(std::unique_ptr<disk_job> j)
    {
        auto& st = *j->storage;
        ++m_outstanding;
        if (st.fence_active || !st.blocked.empty() || (j->fence && st.in_flight > 0)) {
            st.blocked.push_back(std::move(j));
            return;
        }
        dispatch(std::move(j));
    }

    // Under m_mutex: a job no fence holds back. A hash of a piece with
    // writes still pending waits for them (counted in flight, so that no
    // fence overtakes it).
    void dispatch(std::unique_ptr<disk_job> j)
    {
        auto& st = *j->storage;
        if (j->hash_piece >= lt::piece_index_t(0)) {
            auto it = st.writes.find(j->hash_piece);
            if (it != st.writes.end() && it->second.pending > 0) {
                ++st.in_flight;
                it->second.waiting.push_back(std::move(j));
                return;
            }
        }
        enqueue(std::move(j));
    }

    // Under m_mutex.
    void enqueue(std::unique_ptr<disk_job> j)
    {
        ++j->storage->in_flight;
        if (j->fence)
            j->storage->fence_active = true;
        m_queue.push_back(std::move(j));
        // One wake per burst: busy threads come back for more by themselves,
        // and each woken thread wakes the next while work is left for it.
        if (m_idle > 0 && !m_wake_pending && !for_busy_writer(*m_queue.back())) {
            m_wake_pending = true;
            m_work.notify_one();
        }
    }

    // Under m_mutex: a write for a piece that a thread is writing now. That
    // thread takes it when it comes back to the queue; another thread woken
    // for it would only hand it over (under Wine each wake costs a server
    // call or two).
    static bool for_busy_writer(disk_job const& j)
    {
        if (j.what != disk_job::kind::write)
            return false;
        auto const it = j.storage->writes.find(j.request.piece);
        return it != j.storage->writes.end() && it->second.writer_busy;
    }

    // Under m_mutex: a job of `st` is over.
    void job_done(storage_state& st, bool fence)
    {
        --st.in_flight;
        --m_outstanding;
        if (fence)
            st.fence_active = false;
        while (!st.blocked.empty() && !st.fence_active) {
            if (st.blocked.front()->fence && st.in_flight > 0)
                break;
            auto j = std::move(st.blocked.front());
            st.blocked.pop_front();
            dispatch(std::move(j));
        }
        if (m_abort && m_outstanding == 0)
            m_work.notify_all();
    }

    void thread_loop()
    {
        // This thread's buffer for joining a batch's blocks into one write.
        std::vector<char> staging;
        std::unique_lock<std::mutex> l(m_mutex);
        for (;;) {
            if (m_queue.empty()) {
                if (m_abort && m_outstanding == 0)
                    return;
                ++m_idle;
                m_work.wait(l);
                --m_idle;
                m_wake_pending = false;
                continue;
            }
            std::vector<std::unique_ptr<disk_job>> batch;
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
            if (batch.front()->what != disk_job::kind::write) {
                wake_another();
                l.unlock();
                run_other(std::move(batch.front()));
                l.lock();
                continue;
            }
            // One thread at a time writes a piece, in the order the blocks
            // came, so that the piece's hash can follow its blocks. A write
            // for a piece another thread is on goes to that thread.
            storage_state& st = *batch.front()->storage;
            lt::piece_index_t const piece = batch.front()->request.piece;
            auto& pw = st.writes[piece];
            if (pw.writer_busy) {
                pw.deferred.push_back(std::move(batch.front()));
                continue;
            }
            pw.writer_busy = true;
            // The rest of the piece's queued writes go with it.
            while (!m_queue.empty() && batch.size() < 64) {
                auto const& next = *m_queue.front();
                if (next.what != disk_job::kind::write || next.storage.get() != &st || next.request.piece != piece)
                    break;
                batch.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
            wake_another();
            // The storage stays alive through the last job's reference.
            auto const keep = batch.front()->storage;
            for (;;) {
                l.unlock();
                run_writes(batch, staging);
                batch.clear();
                l.lock();
                // Pending writes keep the entry; none pending, none deferred.
                auto it = st.writes.find(piece);
                if (it == st.writes.end())
                    break;
                if (it->second.deferred.empty()) {
                    it->second.writer_busy = false;
                    break;
                }
                batch = std::move(it->second.deferred);
                it->second.deferred.clear();
            }
        }
    }

    // Under m_mutex: another thread may take what is left in the queue.
    void wake_another()
    {
        if (!m_queue.empty() && m_idle > 0 && !m_wake_pending && !for_busy_writer(*m_queue.front())) {
            m_wake_pending = true;
            m_work.notify_one();
        }
    }

    void run_other(std::unique_ptr<disk_job> j)
    {
        std::function<void()> done = j->work(*j);
        std::lock_guard<std::mutex> l(m_mutex);
        complete(std::move(done));
        job_done(*j->storage, j->fence);
    }

    // A batch of writes to one piece, in the order they came. Contiguous
    // blocks go to each file in one call (`staging` joins them where the
    // system has no gathering write): under Wine every write call costs a
    // server round trip. The bookkeeping after the writes takes the lock
    // once for the whole batch.
    void run_writes(std::vector<std::unique_ptr<disk_job>>& batch, std::vector<char>& staging)
    {
        storage_state& st = *batch.front()->storage;
        lt::piece_index_t const piece = batch.front()->request.piece;
        std::vector<lt::storage_error> errors(batch.size());
        for (std::size_t i = 0; i < batch.size();) {
            disk_job const& first = *batch[i];
            std::vector<positional_file::part> parts{{first.buffer, first.request.length}};
            int length = first.request.length;
            std::size_t k = i + 1;
            while (k < batch.size() && batch[k]->flags == first.flags
                && batch[k]->request.start == batch[k - 1]->request.start + batch[k - 1]->request.length) {
                parts.push_back({batch[k]->buffer, batch[k]->request.length});
                length += batch[k]->request.length;
                ++k;
            }
            lt::storage_error e;
            write_blocks(st, piece, first.request.start, parts, length, first.flags, staging, e);
            for (std::size_t b = i; b < k; ++b)
                errors[b] = e;
            if (!e)
                hash_in_order(st, batch, i, k);
            i = k;
        }
        // A flush or close that failed since (a file evicted from the set, or
        // closed by a release) is reported with the torrent's next write:
        // that is the written data it may have lost.
        for (std::size_t b = 0; b < batch.size(); ++b) {
            if (!errors[b]) {
                report_close_failure(st, errors[b]);
                break;
            }
        }

        std::lock_guard<std::mutex> l(m_mutex);
        for (std::size_t b = 0; b < batch.size(); ++b)
            write_done(st, std::move(batch[b]), errors[b]);
        m_room.notify_all();
        if (m_exceeded && m_store_bytes < m_high_mark / 2) {
            m_exceeded = false;
            auto observers = std::move(m_observers);
            m_observers.clear();
            if (!observers.empty())
                complete([obs = std::move(observers)] {
                    for (auto const& o : obs)
                        o->on_disk();
                });
        }
    }

    // Under m_mutex: a block is on disk (or failed `e`): out of the store
    // buffer, counted, and the piece's waiting hashes let go when it was
    // the piece's last pending write.
    void write_done(storage_state& st, std::unique_ptr<disk_job> j, lt::storage_error const& e)
    {
        auto key = block_key(j->request.piece, j->request.start);
        auto sit = st.store.find(key);
        if (sit != st.store.end() && sit->second.first == j->buffer)
            st.store.erase(sit);
        release_block(j->buffer);
        m_store_bytes -= j->request.length;

        auto wit = st.writes.find(j->request.piece);
        if (wit != st.writes.end()) {
            auto& pw = wit->second;
            if (e && !pw.failure)
                pw.failure = e;
            if (--pw.pending == 0) {
                auto waiting = std::move(pw.waiting);
                lt::storage_error const failure = pw.failure;
                int const piece_size = st.files().piece_size(j->request.piece);
                std::optional<lt::sha1_hash> whole;
                if (!failure && !pw.spoilt && pw.hashed == piece_size)
                    whole = pw.hasher.final();
                // A piece whose blocks come one at a time keeps its partial
                // hash between them, until it is whole or hashed.
                bool const partial = waiting.empty() && !failure && !pw.spoilt && pw.hashed > 0 && pw.hashed < piece_size;
                // A failure stays with the piece for a hash asked for later,
                // until the piece is cleared or comes again.
                if (!partial && !failure)
                    st.writes.erase(wit);
                if (whole && waiting.empty()) {
                    st.written_hashes.emplace_back(j->request.piece, *whole);
                    if (st.written_hashes.size() > 64)
                        st.written_hashes.pop_front();
                }
                for (auto& w : waiting) {
                    w->prior = failure;
                    w->from_blocks = whole;
                    // In flight since it was parked, so older than any
                    // fence: it goes to the queue at once.
                    --st.in_flight;
                    enqueue(std::move(w));
                }
            }
        }

        complete([e, h = std::move(j->write_handler)] { h(e); });
        job_done(st, false);
    }

    // Extends the piece's hash by the written blocks [i, k) of `batch` that
    // continue it in order.
    void hash_in_order(storage_state& st, std::vector<std::unique_ptr<disk_job>> const& batch, std::size_t i,
        std::size_t k)
    {
        piece_writes* pw;
        {
            std::lock_guard<std::mutex> l(m_mutex);
            auto it = st.writes.find(batch[i]->request.piece);
            if (it == st.writes.end())
                return;
            pw = &it->second;
            if (pw->spoilt || pw->hashing)
                return;
            // Blocks before the hash's end were hashed already (written
            // again, they spoil it elsewhere); a gap stops it.
            while (i < k && batch[i]->request.start < pw->hashed)
                ++i;
            if (i == k || pw->hashed != batch[i]->request.start)
                return;
            pw->hashing = true;
        }
        // The entry stays while these writes are pending; only this thread
        // touches the hasher while `hashing` is set.
        int added = 0;
        for (std::size_t b = i; b < k; ++b) {
            pw->hasher.update(batch[b]->buffer, batch[b]->request.length);
            added += batch[b]->request.length;
        }
        std::lock_guard<std::mutex> l(m_mutex);
        pw->hashed += added;
        pw->hashing = false;
    }

    // --- file work (disk threads) --------------------------------------------

    // The oldest flush or close of `st`'s files that failed and was not
    // reported by a write yet, into `e`, as a write failure: the engine then
    // stops the torrent with it. A write reports it once (`take`); every read
    // reports it until then, so that a torrent that finished (and writes no
    // more) learns that its files did not land, from each block it reads
    // rather than from the first only.
    void report_close_failure(storage_state& st, lt::storage_error& e, bool take = true)
    {
        std::optional<open_file_set::close_failure> f;
        if (take) {
            auto failures = m_files.take_close_failures(st.index);
            if (!failures.empty())
                f = failures.front();
        } else {
            f = m_files.first_close_failure(st.index);
        }
        if (f)
            e = make_error(as_write_failure(f->ec), lt::file_index_t(f->file), lt::operation_t::file);
    }

    std::shared_ptr<positional_file> open_for_write(storage_state& st, lt::file_index_t f, lt::storage_error& e)
    {
        std::string const path = st.path_of(f);
        error_code ec;
        auto h = m_files.open(st.index, static_cast<int>(f), path, positional_file::mode::read_write, ec);
        if (!h && is_missing(ec)) {
            ec.clear();
            if (!create_folders(parent_folder(path), ec)) {
                e = make_error(as_write_failure(ec), f, lt::operation_t::mkdir);
                return nullptr;
            }
            h = m_files.open(st.index, static_cast<int>(f), path, positional_file::mode::read_write, ec);
        }
        if (!h)
            e = make_error(as_write_failure(ec), f, lt::operation_t::file_open);
        return h;
    }

    // Writes `parts` (`len` bytes in all) at `offset` in `piece`: each file's
    // share with one call.
    bool write_blocks(storage_state& st, lt::piece_index_t piece, int offset,
        std::vector<positional_file::part> const& parts, int len, lt::disk_job_flags_t flags,
        std::vector<char>& staging, lt::storage_error& e)
    {
        std::size_t next = 0; // the part the next byte is in
        int used = 0;         // bytes of that part already taken
        std::vector<positional_file::part> share;
        // The next `n` bytes of the parts, as parts of their own.
        auto take = [&](std::int64_t n, std::vector<positional_file::part>* out) {
            while (n > 0) {
                int const c = int(std::min<std::int64_t>(n, parts[next].size - used));
                if (out)
                    out->push_back({parts[next].data + used, c});
                used += c;
                n -= c;
                if (used == parts[next].size) {
                    ++next;
                    used = 0;
                }
            }
        };
        for (auto const& slice : st.files().map_block(piece, offset, len)) {
            if (slice.size == 0)
                continue;
            // Pad files only align the next file to a piece: never written.
            if (st.files().pad_file_at(slice.file_index)) {
                take(slice.size, nullptr);
                continue;
            }
            auto h = open_for_write(st, slice.file_index, e);
            if (!h)
                return false;
            share.clear();
            take(slice.size, &share);
            error_code ec;
            int const put = h->write_parts_at(share, slice.offset, staging, ec);
            if (put != int(slice.size)) {
                if (!ec)
                    ec = lt::errors::make_error_code(lt::errors::file_too_short);
                e = make_error(as_write_failure(ec), slice.file_index, lt::operation_t::file_write);
                return false;
            }
            if ((flags & lt::disk_interface::flush_piece) && !h->flush(ec)) {
                // A flush that fails is a write that did not happen.
                e = make_error(as_write_failure(ec), slice.file_index, lt::operation_t::file_write);
                return false;
            }
        }
        m_counters.inc_stats_counter(lt::counters::num_blocks_written, (len + block_size - 1) / block_size);
        m_counters.inc_stats_counter(lt::counters::num_write_ops);
        return true;
    }

    bool read_block(storage_state& st, lt::piece_index_t piece, int offset, char* buf, int len, lt::storage_error& e)
    {
        for (auto const& slice : st.files().map_block(piece, offset, len)) {
            if (slice.size == 0)
                continue;
            if (st.files().pad_file_at(slice.file_index)) {
                std::memset(buf, 0, std::size_t(slice.size));
                buf += slice.size;
                continue;
            }
            error_code ec;
            auto h = m_files.open(st.index, static_cast<int>(slice.file_index), st.path_of(slice.file_index),
                positional_file::mode::read_only, ec);
            if (!h) {
                e = make_error(ec, slice.file_index, lt::operation_t::file_open);
                return false;
            }
            int const got = h->read_at(buf, int(slice.size), slice.offset, ec);
            if (got < 0) {
                e = make_error(ec, slice.file_index, lt::operation_t::file_read);
                return false;
            }
            if (got < int(slice.size)) {
                // The file ends before the block: a file never completed.
                e = make_error(lt::errors::make_error_code(lt::errors::file_too_short), slice.file_index,
                    lt::operation_t::file_read);
                return false;
            }
            buf += slice.size;
        }
        m_counters.inc_stats_counter(lt::counters::num_blocks_read);
        m_counters.inc_stats_counter(lt::counters::num_read_ops);
        return true;
    }

    lt::sha1_hash hash_piece(
        storage_state& st, lt::piece_index_t piece, bool v1, lt::span<lt::sha256_hash> v2, lt::storage_error& e)
    {
        lt::file_storage const& fs = st.files();
        int const size1 = v1 ? fs.piece_size(piece) : 0;
        int const size2 = v2.empty() ? 0 : fs.piece_size2(piece);
        int const blocks2 = v2.empty() ? 0 : fs.blocks_in_piece2(piece);
        int const end = std::max(size1, size2);
        lt::hasher h1;
        std::vector<char> buf(block_size);
        int block = 0;
        for (int offset = 0; offset < end; offset += block_size, ++block) {
            int const len = std::min(block_size, end - offset);
            if (!read_block(st, piece, offset, buf.data(), len, e))
                break;
            if (v1 && offset < size1)
                h1.update(buf.data(), std::min(len, size1 - offset));
            if (block < blocks2 && offset < size2)
                v2[block] = lt::hasher256(buf.data(), std::min(len, size2 - offset)).final();
        }
        return v1 ? h1.final() : lt::sha1_hash();
    }

    lt::status_t check_files(
        storage_state& st, lt::add_torrent_params const* rd, bool no_recheck, lt::storage_error& e)
    {
        lt::file_storage const& fs = st.files();
        std::vector<lt::download_priority_t> prio;
        {
            std::lock_guard<std::mutex> l(m_mutex);
            prio.assign(st.priorities.begin(), st.priorities.end());
        }
        auto const wanted = [&](lt::file_index_t f) {
            return static_cast<std::size_t>(static_cast<int>(f)) >= prio.size()
                || prio[std::size_t(static_cast<int>(f))] != lt::dont_download;
        };

        lt::status_t flags{};
        // Sizes as found on disk; -1: missing.
        std::vector<std::int64_t> sizes(std::size_t(fs.num_files()), -1);
        bool any_file = false;
        for (lt::file_index_t f : fs.file_range()) {
            if (fs.pad_file_at(f))
                continue;
            error_code ec;
            std::int64_t const size = file_size_at(st.path_of(f), ec);
            if (ec && !is_missing(ec)) {
                e = make_error(ec, f, lt::operation_t::file_stat);
                return lt::status_t::fatal_disk_error;
            }
            sizes[std::size_t(static_cast<int>(f))] = size;
            if (size > fs.file_size(f))
                flags = flags | lt::status_t::oversized_file;
            if (size > 0)
                any_file = true;
            // Empty files are never written by a block: they are made here.
            if (size < 0 && fs.file_size(f) == 0 && wanted(f)) {
                lt::storage_error we;
                if (!open_for_write(st, f, we)) {
                    e = we;
                    return lt::status_t::fatal_disk_error;
                }
                sizes[std::size_t(static_cast<int>(f))] = 0;
            }
        }
        m_files.close_storage(st.index);

        bool const has_resume = rd && (!rd->have_pieces.empty() || bool(rd->flags & lt::torrent_flags::seed_mode));
        if (!has_resume)
            return (any_file ? lt::status_t::need_full_check : lt::status_t::no_error) | flags;

        // Every piece the resume data says we have must be on disk whole: each
        // file it touches present and long enough. A missing or short file
        // means the data cannot be trusted, and the engine checks it all.
        bool const seed = bool(rd->flags & lt::torrent_flags::seed_mode)
            || (rd->have_pieces.size() >= fs.num_pieces() && rd->have_pieces.all_set());
        lt::piece_index_t const end = seed ? fs.end_piece() : std::min(rd->have_pieces.end_index(), fs.end_piece());
        for (lt::piece_index_t p(0); p < end; ++p) {
            if (!seed && !rd->have_pieces.get_bit(p))
                continue;
            for (auto const& slice : fs.map_block(p, 0, fs.piece_size(p))) {
                if (slice.size == 0 || fs.pad_file_at(slice.file_index))
                    continue;
                std::int64_t const have = sizes[std::size_t(static_cast<int>(slice.file_index))];
                if (have < slice.offset + slice.size) {
                    e = make_error(have < 0 ? error_code(boost::system::errc::no_such_file_or_directory,
                                                  boost::system::generic_category())
                                            : lt::errors::make_error_code(lt::errors::mismatching_file_size),
                        slice.file_index, lt::operation_t::check_resume);
                    return (no_recheck ? lt::status_t::no_error : lt::status_t::need_full_check) | flags;
                }
            }
        }
        return lt::status_t::no_error | flags;
    }

    void rename_file(storage_state& st, lt::file_index_t index, std::string const& name, lt::storage_error& e)
    {
        if (index < lt::file_index_t(0) || index >= st.files().end_file())
            return;
        m_files.close_file(st.index, static_cast<int>(index));
        std::string const from = st.path_of(index);
        auto renamed = std::make_unique<lt::file_storage>(st.files());
        renamed->rename_file(index, name);
        std::string const to = renamed->file_path(index, st.save_path);

        error_code ec;
        file_size_at(from, ec);
        if (!ec) {
            if (!create_folders(parent_folder(to), ec)) {
                e = make_error(ec, index, lt::operation_t::mkdir);
                return;
            }
            if (!rename_path(from, to, ec)) {
                e = make_error(ec, index, lt::operation_t::file_rename);
                return;
            }
        } else if (!is_missing(ec)) {
            e = make_error(ec, index, lt::operation_t::file_stat);
            return;
        }
        std::lock_guard<std::mutex> l(m_mutex);
        st.renamed = std::move(renamed);
    }

    void delete_files(storage_state& st, lt::storage_error& e)
    {
        lt::file_storage const& fs = st.files();
        std::vector<std::string> folders;
        for (lt::file_index_t f : fs.file_range()) {
            if (fs.pad_file_at(f))
                continue;
            std::string const path = st.path_of(f);
            error_code ec;
            if (!remove_path(path, ec) && !e)
                e = make_error(ec, f, lt::operation_t::file_remove);
            // The torrent's own folders, up to the save path.
            for (std::string dir = parent_folder(path);
                 dir.size() > st.save_path.size() && dir.compare(0, st.save_path.size(), st.save_path) == 0;
                 dir = parent_folder(dir))
                folders.push_back(dir);
        }
        // Deepest first; a folder with other files in it stays.
        std::sort(folders.begin(), folders.end(), [](auto const& a, auto const& b) { return a.size() > b.size(); });
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (auto const& dir : folders) {
            error_code ignored;
            remove_path(dir, ignored);
        }
    }

    lt::status_t move_storage(storage_state& st, std::string const& to, lt::move_flags_t flags, lt::storage_error& e)
    {
        m_files.close_storage(st.index);
        lt::file_storage const& fs = st.files();
        std::string const from = st.save_path;
        if (flags == lt::move_flags_t::fail_if_exist) {
            for (lt::file_index_t f : fs.file_range()) {
                if (fs.pad_file_at(f))
                    continue;
                error_code ec;
                if (file_size_at(fs.file_path(f, to), ec) >= 0) {
                    e = make_error(boost::system::errc::make_error_code(boost::system::errc::file_exists), f,
                        lt::operation_t::file_stat);
                    return lt::status_t::file_exist;
                }
            }
        }
        for (lt::file_index_t f : fs.file_range()) {
            if (fs.pad_file_at(f))
                continue;
            std::string const src = fs.file_path(f, from);
            std::string const dst = fs.file_path(f, to);
            if (src == dst)
                continue;
            error_code ec;
            if (file_size_at(src, ec) < 0)
                continue; // never written: nothing to move
            if (flags == lt::move_flags_t::dont_replace && file_size_at(dst, ec) >= 0)
                continue; // the file already there is taken instead
            ec.clear();
            if (!create_folders(parent_folder(dst), ec)) {
                e = make_error(ec, f, lt::operation_t::mkdir);
                return lt::status_t::fatal_disk_error;
            }
            if (!rename_path(src, dst, ec) && !copy_then_remove(src, dst, ec)) {
                e = make_error(ec, f, lt::operation_t::file_rename);
                return lt::status_t::fatal_disk_error;
            }
        }
        std::lock_guard<std::mutex> l(m_mutex);
        st.save_path = to;
        return lt::status_t::no_error;
    }

    // A rename across drives fails; the file is copied instead.
    static bool copy_then_remove(std::string const& src, std::string const& dst, error_code& ec)
    {
        ec.clear();
        positional_file in = positional_file::open(src, positional_file::mode::read_only, ec);
        if (!in.is_open())
            return false;
        positional_file out = positional_file::open(dst, positional_file::mode::read_write, ec);
        if (!out.is_open())
            return false;
        std::vector<char> buf(1 << 20);
        std::int64_t at = 0;
        for (;;) {
            int const got = in.read_at(buf.data(), int(buf.size()), at, ec);
            if (got < 0)
                return false;
            if (got == 0)
                break;
            if (out.write_at(buf.data(), got, at, ec) != got)
                return false;
            at += got;
        }
        if (!out.close(ec))
            return false;
        in.close(ec);
        ec.clear();
        return remove_path(src, ec);
    }

    lt::io_context& m_ios;
    lt::settings_interface const& m_settings;
    lt::counters& m_counters;
    open_file_set m_files;

    mutable std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_room;
    std::vector<std::shared_ptr<storage_state>> m_storages;
    std::vector<std::uint32_t> m_free_slots;
    std::deque<std::unique_ptr<disk_job>> m_queue;
    // Jobs added and not finished, parked and blocked ones included.
    int m_outstanding = 0;
    int m_idle = 0;
    bool m_wake_pending = false;
    bool m_abort = false;

    std::vector<char*> m_free_blocks;
    int m_store_bytes = 0;
    int m_high_mark = store_buffer_floor;
    bool m_exceeded = false;
    std::vector<std::shared_ptr<lt::disk_observer>> m_observers;

    std::mutex m_done_mutex;
    std::vector<std::function<void()>> m_done;

    std::vector<std::thread> m_threads;
};

} // namespace

boost::system::error_category const& write_failure_category()
{
    static write_failure_category_impl const category;
    return category;
}

std::unique_ptr<lt::disk_interface> file_disk_io_constructor(
    lt::io_context& ios, lt::settings_interface const& settings, lt::counters& counters)
{
    return std::make_unique<file_disk_io>(ios, settings, counters);
}

error_code release_failure(lt::session& session, lt::torrent_handle const& torrent, lt::time_duration limit,
    std::function<void(lt::alert const*)> const& other)
{
    if (!torrent.is_valid())
        return lt::errors::make_error_code(lt::errors::invalid_torrent_handle);
    torrent.read_piece(lt::piece_index_t(0));
    auto const deadline = lt::clock_type::now() + limit;
    for (;;) {
        auto const left = deadline - lt::clock_type::now();
        if (left <= lt::time_duration::zero() || session.wait_for_alert(left) == nullptr)
            return boost::system::errc::make_error_code(boost::system::errc::timed_out);
        std::vector<lt::alert*> alerts;
        session.pop_alerts(&alerts);
        error_code answer;
        bool answered = false;
        for (lt::alert* a : alerts) {
            auto* read = lt::alert_cast<lt::read_piece_alert>(a);
            if (!answered && read && read->handle == torrent && read->piece == lt::piece_index_t(0)) {
                answer = read->error;
                answered = true;
            } else if (other) {
                other(a);
            }
        }
        if (answered) return answer;
    }
}

} // namespace tg

#include "engine/file_disk_io.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

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

#include "engine/disk/block_store.hpp"
#include "engine/disk/completions.hpp"
#include "engine/disk/errors.hpp"
#include "engine/disk/fences.hpp"
#include "engine/disk/job.hpp"
#include "engine/disk/open_file_set.hpp"
#include "engine/disk/piece_writer.hpp"
#include "engine/disk/positional_file.hpp"
#include "engine/disk/storage_state.hpp"
#include "engine/disk/thread_pool.hpp"
#include "engine/disk/torrent_files.hpp"

// Threads: the network thread calls the disk interface; `aio_threads`
// disk threads (one to four) run the jobs; completions run back on the
// network thread, in batches. The parts are in disk/.
//
// Locks, in this order (a lock is only ever taken while holding those
// before it):
//   1. m_mutex: the storages, the pool's queue and wake state
//      (thread_pool.hpp), every storage_state field below its "guarded"
//      line (storage_state.hpp: the fences, the store buffer, the piece
//      writes) and the block store.
//   2. the completions' own: those not yet handed to the network thread
//      (added with or without m_mutex).
// The open file set's mutex and its failure sink's mutex are leaves: never
// taken under m_mutex or each other (the set closes its handles after
// letting its lock go). A disk thread lets m_mutex go while it reads,
// writes or hashes; the piece's SHA-1 is then extended by the one thread
// whose `hashing` mark is set, and a piece's blocks are written by the one
// thread whose `writer_busy` mark is set.

namespace tg {

class file_disk_io final : public lt::disk_interface, public lt::buffer_allocator_interface
{
public:
    file_disk_io(lt::io_context& ios, lt::settings_interface const& settings, lt::counters& counters)
        : m_settings(settings), m_counters(counters), m_files(40), m_completions(ios),
          m_pool(m_mutex,
                 {[this](std::unique_ptr<disk_job> j) { run_other(std::move(j)); },
                  [this](std::vector<std::unique_ptr<disk_job>>& batch, std::vector<char>& staging) {
                      run_writes(batch, staging);
                  }})
    {
        settings_updated();
        m_pool.start(std::clamp(settings.get_int(lt::settings_pack::aio_threads), 1, 4));
    }

    ~file_disk_io() override { abort(true); }

    // --- buffers -----------------------------------------------------------

    void free_disk_buffer(char* b) override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_blocks.release(b);
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
        m_storages[index] = std::make_shared<storage_state>(p, lt::storage_index_t(index), m_files, m_counters);
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
        m_files.close_storage(idx);
        m_files.take_close_failures(idx);
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
            buf = m_blocks.take();
            // A block still in the store buffer is read from memory.
            if (char const* held = st->store.find({r.piece, r.start}, r.length)) {
                std::memcpy(buf, held, std::size_t(r.length));
                m_completions.add([this, buf, len = r.length, h = std::move(handler)] {
                    h(lt::disk_buffer_holder(*this, buf, len), lt::storage_error());
                });
                return;
            }
        }
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        j->what = read_job{[this, st, r, buf, h = std::move(handler)]() mutable {
            lt::storage_error e;
            st->files.report_close_failure(e, false);
            if (!e)
                st->files.read_block(r.piece, r.start, buf, r.length, e);
            return completion(
                [this, buf, len = r.length, e, h = std::move(h)] { h(lt::disk_buffer_holder(*this, buf, len), e); });
        }};
        add_job(std::move(j));
    }

    bool async_write(lt::storage_index_t idx, lt::peer_request const& r, char const* data,
                     std::shared_ptr<lt::disk_observer> o, std::function<void(lt::storage_error const&)> handler,
                     lt::disk_job_flags_t flags) override
    {
        auto st = storage(idx);
        auto j = std::make_unique<disk_job>();
        j->storage = st;
        auto& w = j->what.emplace<write_job>();
        w.request = r;
        w.flags = flags;
        w.handler = std::move(handler);

        std::unique_lock<std::mutex> l(m_mutex);
        // A caller that does not wait when asked (the engine's add_piece
        // passes no observer) is held here, briefly, rather than let the
        // buffer grow without bound: the disk threads drain it without the
        // network thread's help.
        m_blocks.wait_for_room(l, m_pool.aborting());
        w.buffer = m_blocks.take();
        std::memcpy(w.buffer, data, std::size_t(r.length));
        st->store.put({r.piece, r.start}, w.buffer, r.length);
        write_accepted(st->writes, r);
        bool const full = m_blocks.accepted(r.length, std::move(o));
        add_job_locked(std::move(j));
        return full;
    }

    // --- hashes --------------------------------------------------------------

    void
    async_hash(lt::storage_index_t idx, lt::piece_index_t piece, lt::span<lt::sha256_hash> v2,
               lt::disk_job_flags_t flags,
               std::function<void(lt::piece_index_t, lt::sha1_hash const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        bool const v1 = bool(flags & lt::disk_interface::v1_hash);
        auto work = [st, piece, v2, v1, h = std::move(handler)](hash_job const& self) mutable {
            lt::storage_error e = self.prior;
            lt::sha1_hash hash;
            if (!e && self.from_blocks && v1 && v2.empty())
                hash = *self.from_blocks;
            else if (!e)
                hash = st->files.hash_piece(piece, v1, v2, e);
            return completion([piece, hash, e, h = std::move(h)] { h(piece, hash, e); });
        };
        add_hash_job(st, piece, std::move(work));
    }

    void async_hash2(
        lt::storage_index_t idx, lt::piece_index_t piece, int offset, lt::disk_job_flags_t,
        std::function<void(lt::piece_index_t, lt::sha256_hash const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        auto work = [st, piece, offset, h = std::move(handler)](hash_job const& self) mutable {
            lt::storage_error e = self.prior;
            lt::sha256_hash hash;
            if (!e) {
                int const len = std::min(block_size, st->files.files().piece_size2(piece) - offset);
                std::vector<char> buf(std::size_t(std::max(len, 0)));
                if (len > 0 && st->files.read_block(piece, offset, buf.data(), len, e))
                    hash = lt::hasher256(buf.data(), len).final();
            }
            return completion([piece, hash, e, h = std::move(h)] { h(piece, hash, e); });
        };
        add_hash_job(st, piece, std::move(work));
    }

    // --- fences ----------------------------------------------------------------

    void
    async_move_storage(lt::storage_index_t idx, std::string p, lt::move_flags_t flags,
                       std::function<void(lt::status_t, std::string const&, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, p = std::move(p), flags, h = std::move(handler)]() mutable {
            lt::storage_error e;
            lt::status_t const s = st->files.move_storage(p, flags, e);
            if (s == lt::status_t::no_error) {
                std::lock_guard<std::mutex> l(m_mutex);
                st->files.set_save_path(p);
            }
            return completion([s, e, path = st->files.save_path(), h = std::move(h)] { h(s, path, e); });
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
            m_files.close_storage(st->files.index(), true);
            return completion([h = std::move(h)] {
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
            std::vector<lt::download_priority_t> prio;
            {
                std::lock_guard<std::mutex> l(m_mutex);
                prio.assign(st->priorities.begin(), st->priorities.end());
            }
            lt::status_t const s = st->files.check_files(rd.get(), no_recheck, prio, e);
            return completion([s, e, h = std::move(h)] { h(s, e); });
        });
    }

    void async_rename_file(
        lt::storage_index_t idx, lt::file_index_t index, std::string name,
        std::function<void(std::string const&, lt::file_index_t, lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, index, name = std::move(name), h = std::move(handler)]() mutable {
            lt::storage_error e;
            if (auto renamed = st->files.rename_file(index, name, e)) {
                std::lock_guard<std::mutex> l(m_mutex);
                st->files.set_layout(std::move(renamed));
            }
            return completion([index, e, name = std::move(name), h = std::move(h)] { h(name, index, e); });
        });
    }

    void async_delete_files(lt::storage_index_t idx, lt::remove_flags_t options,
                            std::function<void(lt::storage_error const&)> handler) override
    {
        auto st = storage(idx);
        add_fence(st, [this, st, options, h = std::move(handler)]() mutable {
            lt::storage_error e;
            m_files.close_storage(st->files.index());
            // There are no part files to remove (see async_set_file_priority).
            if (options & lt::session_handle::delete_files)
                st->files.delete_files(e);
            return completion([e, h = std::move(h)] { h(e); });
        });
    }

    // --- instant jobs --------------------------------------------------------

    void async_set_file_priority(
        lt::storage_index_t idx, lt::aux::vector<lt::download_priority_t, lt::file_index_t> prio,
        std::function<void(lt::storage_error const&, lt::aux::vector<lt::download_priority_t, lt::file_index_t>)>
            handler) override
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
            m_completions.add(
                [p = std::move(prio), h = std::move(handler)]() mutable { h(lt::storage_error(), std::move(p)); });
        }
    }

    void async_clear_piece(lt::storage_index_t idx, lt::piece_index_t index,
                           std::function<void(lt::piece_index_t)> handler) override
    {
        // Nothing else of a piece stays behind once its hash ran: hashes wait
        // for the piece's writes, and the store buffer holds only pending
        // writes.
        auto st = storage(idx);
        std::lock_guard<std::mutex> l(m_mutex);
        clear_piece(st->writes, index);
        m_completions.add([index, h = std::move(handler)] { h(index); });
    }

    // --- the rest ----------------------------------------------------------------

    void update_stats_counters(lt::counters&) const override {}

    std::vector<lt::open_file_state> get_status(lt::storage_index_t idx) const override
    {
        std::vector<lt::open_file_state> out;
        auto const now = lt::clock_type::now();
        for (auto const& f : m_files.files_of(idx))
            out.push_back({f.first, f.second ? lt::file_open_mode::read_write : lt::file_open_mode::read_only, now});
        return out;
    }

    void abort(bool wait) override
    {
        m_pool.stop();
        m_blocks.wake_writers();
        if (!wait)
            return;
        m_pool.join();
        m_files.close_all();
    }

    void submit_jobs() override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_pool.wake_another();
    }

    void settings_updated() override
    {
        int const limit = m_settings.get_int(lt::settings_pack::file_pool_size);
        m_files.set_limit(std::clamp(limit, 4, 512));
        std::lock_guard<std::mutex> l(m_mutex);
        m_blocks.set_high_mark(m_settings.get_int(lt::settings_pack::max_queued_disk_bytes));
    }

private:
    std::shared_ptr<storage_state> storage(lt::storage_index_t idx)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_storages[static_cast<std::uint32_t>(idx)];
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
        j->what = fence_job{std::move(work)};
        add_job(std::move(j));
    }

    void add_hash_job(std::shared_ptr<storage_state> const& storage, lt::piece_index_t piece,
                      std::function<completion(hash_job const&)> work)
    {
        auto j = std::make_unique<disk_job>();
        j->storage = storage;
        auto& hj = j->what.emplace<hash_job>();
        hj.piece = piece;
        hj.work = std::move(work);
        std::lock_guard<std::mutex> l(m_mutex);
        hash_asked(j->storage->writes, hj);
        add_job_locked(std::move(j));
    }

    // Under m_mutex.
    void add_job_locked(std::unique_ptr<disk_job> j)
    {
        m_pool.added();
        if (!hold_back(j->storage->fences, j))
            dispatch(std::move(j));
    }

    // Under m_mutex: a job no fence holds back. A hash of a piece with
    // writes still pending waits for them (counted in flight, so that no
    // fence overtakes it).
    void dispatch(std::unique_ptr<disk_job> j)
    {
        auto& st = *j->storage;
        if (j->hash() && park_hash(st.writes, j)) {
            started(st.fences, false);
            return;
        }
        enqueue(std::move(j));
    }

    // Under m_mutex.
    void enqueue(std::unique_ptr<disk_job> j)
    {
        started(j->storage->fences, j->is_fence());
        m_pool.push(std::move(j));
    }

    // Under m_mutex: a job of `st` is over.
    void job_done(storage_state& st, bool fence)
    {
        finished(st.fences, fence);
        while (auto j = next_released(st.fences))
            dispatch(std::move(j));
        m_pool.finished();
    }

    void run_other(std::unique_ptr<disk_job> j)
    {
        completion done = std::visit(
            [](auto& job) -> completion {
                using type = std::decay_t<decltype(job)>;
                if constexpr (std::is_same_v<type, hash_job>)
                    return job.work(job);
                else if constexpr (std::is_same_v<type, write_job>)
                    return {}; // writes go by run_writes
                else
                    return job.work();
            },
            j->what);
        std::lock_guard<std::mutex> l(m_mutex);
        m_completions.add(std::move(done));
        job_done(*j->storage, j->is_fence());
    }

    // A batch of writes to one piece, in the order they came. The
    // bookkeeping after the writes takes the lock once for the whole batch.
    void run_writes(std::vector<std::unique_ptr<disk_job>>& batch, std::vector<char>& staging)
    {
        storage_state& st = *batch.front()->storage;
        std::vector<lt::storage_error> const errors = write_batch(st.files, st.writes, m_mutex, batch, staging);

        std::lock_guard<std::mutex> l(m_mutex);
        for (std::size_t b = 0; b < batch.size(); ++b)
            write_done(st, std::move(batch[b]), errors[b]);
        m_blocks.wake_writers();
        auto observers = m_blocks.drained();
        if (!observers.empty())
            m_completions.add([obs = std::move(observers)] {
                for (auto const& o : obs)
                    o->on_disk();
            });
    }

    // Under m_mutex: a block is on disk (or failed `e`): out of the store
    // buffer, counted, and the piece's waiting hashes let go when it was
    // the piece's last pending write.
    void write_done(storage_state& st, std::unique_ptr<disk_job> j, lt::storage_error const& e)
    {
        write_job& w = *j->write();
        st.store.written({w.request.piece, w.request.start}, w.buffer);
        m_blocks.release(w.buffer);
        m_blocks.written(w.request.length);

        int const piece_size = st.files.files().piece_size(w.request.piece);
        for (auto& waiter : write_finished(st.writes, w.request.piece, piece_size, e)) {
            // In flight since it was parked, so older than any fence: it
            // goes to the queue at once.
            finished(st.fences, false);
            enqueue(std::move(waiter));
        }

        m_completions.add([e, h = std::move(w.handler)] { h(e); });
        job_done(st, false);
    }

    lt::settings_interface const& m_settings;
    lt::counters& m_counters;
    open_file_set m_files;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<storage_state>> m_storages;
    std::vector<std::uint32_t> m_free_slots;

    block_store m_blocks;

    completions m_completions;
    // Last: its threads run the jobs with every other member.
    thread_pool m_pool;
};

std::unique_ptr<lt::disk_interface>
file_disk_io_constructor(lt::io_context& ios, lt::settings_interface const& settings, lt::counters& counters)
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
        if (answered)
            return answer;
    }
}

} // namespace tg

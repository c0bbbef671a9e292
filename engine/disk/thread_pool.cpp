#include "engine/disk/thread_pool.hpp"

#include "engine/disk/piece_writer.hpp"
#include "engine/disk/storage_state.hpp"

namespace tg {

thread_pool::~thread_pool()
{
    stop();
    join();
}

void thread_pool::start(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { loop(); });
}

void thread_pool::push(std::unique_ptr<disk_job> j)
{
    m_queue.push_back(std::move(j));
    // One wake per burst: busy threads come back for more by themselves,
    // and each woken thread wakes the next while work is left for it.
    if (m_idle > 0 && !m_wake_pending && !for_busy_writer(*m_queue.back())) {
        m_wake_pending = true;
        m_work.notify_one();
    }
}

void thread_pool::wake_another()
{
    if (!m_queue.empty() && m_idle > 0 && !m_wake_pending && !for_busy_writer(*m_queue.front())) {
        m_wake_pending = true;
        m_work.notify_one();
    }
}

void thread_pool::finished()
{
    --m_outstanding;
    if (m_abort && m_outstanding == 0)
        m_work.notify_all();
}

void thread_pool::stop()
{
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_abort = true;
    }
    m_work.notify_all();
}

void thread_pool::join()
{
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
}

// A write for a piece that a thread is writing now. That thread takes it
// when it comes back to the queue; another thread woken for it would only
// hand it over (under Wine each wake costs a server call or two).
bool thread_pool::for_busy_writer(disk_job const& j) const
{
    auto const* w = j.write();
    return w && writer_busy(j.storage->writes, w->request.piece);
}

void thread_pool::loop()
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
        if (!batch.front()->write()) {
            wake_another();
            l.unlock();
            m_run.other(std::move(batch.front()));
            l.lock();
            continue;
        }
        // One thread at a time writes a piece, in the order the blocks
        // came, so that the piece's hash can follow its blocks. A write
        // for a piece another thread is on goes to that thread.
        storage_state& st = *batch.front()->storage;
        lt::piece_index_t const piece = batch.front()->write()->request.piece;
        if (!claim_writer(st.writes, batch.front()))
            continue;
        // The rest of the piece's queued writes go with it.
        while (!m_queue.empty() && batch.size() < 64) {
            auto const& next = *m_queue.front();
            if (!next.write() || next.storage.get() != &st || next.write()->request.piece != piece)
                break;
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        wake_another();
        // The storage stays alive through the last job's reference.
        auto const keep = batch.front()->storage;
        while (!batch.empty()) {
            l.unlock();
            m_run.writes(batch, staging);
            l.lock();
            batch = next_for_writer(st.writes, piece);
        }
    }
}

} // namespace tg

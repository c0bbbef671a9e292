// The disk threads and their queue: the wake policy (one wake per burst),
// and a piece's queued writes taken in one batch by the thread that writes
// the piece.
//
// Threads and locks: added, push, wake_another and finished are called
// under the disk I/O's mutex (the one given at construction); start, stop
// and join without it. The runner's functions are called on a disk thread
// without the mutex; they take it to finish their jobs, and call finished()
// for each under it.
// Invariants: `m_outstanding` counts the jobs added and not finished
// (blocked and parked ones included): after stop, the threads end once it
// is zero and the queue is empty. At most one wake is pending: a woken
// thread wakes the next while work is left for it. A write for a piece that
// a thread is writing wakes no other thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/disk/job.hpp"

namespace tg {

class thread_pool
{
public:
    struct runner
    {
        // Runs a job that is not a write.
        std::function<void(std::unique_ptr<disk_job>)> other;
        // Writes a batch of one piece's blocks, the calling thread being the
        // piece's writer; `staging` is that thread's own buffer.
        std::function<void(std::vector<std::unique_ptr<disk_job>>&, std::vector<char>&)> writes;
    };

    thread_pool(std::mutex& mutex, runner run) : m_mutex(mutex), m_run(std::move(run)) {}
    thread_pool(thread_pool const&) = delete;
    thread_pool& operator=(thread_pool const&) = delete;
    ~thread_pool();

    void start(int threads);

    // A job is added (it may wait behind a fence or its piece's writes
    // before it is pushed).
    void added() { ++m_outstanding; }
    // `j` goes to the queue.
    void push(std::unique_ptr<disk_job> j);
    // Another thread may take what is left in the queue.
    void wake_another();
    // A job added is over.
    void finished();

    // Set by stop; read under the mutex.
    bool const& aborting() const { return m_abort; }
    // The threads end once every job added is over.
    void stop();
    void join();

private:
    void loop();
    bool for_busy_writer(disk_job const& j) const;

    std::mutex& m_mutex;
    runner m_run;
    std::condition_variable m_work;
    std::deque<std::unique_ptr<disk_job>> m_queue;
    int m_outstanding = 0;
    int m_idle = 0;
    bool m_wake_pending = false;
    bool m_abort = false;
    std::vector<std::thread> m_threads;
};

} // namespace tg

// The disk jobs' completions, handed to the network thread in batches: it
// is woken once per batch, not once per job (under Wine each wake costs a
// server call).
//
// Threads: add() from any thread, with or without the disk I/O's mutex; it
// takes its own, after the disk I/O's and never before it. The batch runs on
// the network thread (the io_context's).
// Invariant: a run is posted exactly when add() finds the list empty, so
// every completion runs once, in the order added.
#pragma once

#include <mutex>
#include <vector>

#include <libtorrent/io_context.hpp>

#include "engine/disk/job.hpp"

namespace tg {

class completions
{
public:
    explicit completions(lt::io_context& ios) : m_ios(ios) {}
    completions(completions const&) = delete;
    completions& operator=(completions const&) = delete;

    void add(completion f);

private:
    void run();

    lt::io_context& m_ios;
    std::mutex m_mutex;
    std::vector<completion> m_done;
};

} // namespace tg

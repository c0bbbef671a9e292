#include "engine/disk/open_file_set.hpp"

#include <algorithm>

namespace tg {

// Where the handles' deleters record a failed close. Shared with every
// handle, so a handle that outlives its place in the set still has a sink.
struct open_file_set::failure_sink
{
    std::mutex mutex;
    std::vector<close_failure> failures;
};

open_file_set::open_file_set(int limit)
    : m_limit(std::max(limit, 1)), m_failures(std::make_shared<failure_sink>())
{}

open_file_set::~open_file_set() { close_all(); }

std::shared_ptr<positional_file> open_file_set::wrap(positional_file f, lt::storage_index_t storage, lt::file_index_t file)
{
    auto sink = m_failures;
    return std::shared_ptr<positional_file>(new positional_file(std::move(f)), [sink, storage, file](positional_file* p) {
        error_code ec;
        if (!p->close(ec) && p->open_mode() == positional_file::mode::read_write) {
            std::lock_guard<std::mutex> l(sink->mutex);
            sink->failures.push_back({storage, file, ec});
        }
        delete p;
    });
}

std::shared_ptr<positional_file> open_file_set::open(
    lt::storage_index_t storage, lt::file_index_t file, std::string const& path, positional_file::mode m, error_code& ec)
{
    std::vector<std::shared_ptr<positional_file>> closing;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        auto it = std::find_if(
            m_files.begin(), m_files.end(), [&](entry const& e) { return e.storage == storage && e.file == file; });
        if (it != m_files.end()) {
            if (m == positional_file::mode::read_only || it->handle->open_mode() == positional_file::mode::read_write) {
                m_files.splice(m_files.begin(), m_files, it);
                return it->handle;
            }
            // Open for reading only: reopen below for writing. The old handle
            // closes when its last user lets go.
            closing.push_back(std::move(it->handle));
            m_files.erase(it);
        }
    }
    closing.clear();

    // Opening happens outside the lock: on Windows an open can take long
    // (scanners hook it), and other threads' files need not wait for it.
    positional_file f = positional_file::open(path, m, ec);
    if (!f.is_open())
        return nullptr;
    auto handle = wrap(std::move(f), storage, file);

    std::lock_guard<std::mutex> l(m_mutex);
    auto it = std::find_if(
        m_files.begin(), m_files.end(), [&](entry const& e) { return e.storage == storage && e.file == file; });
    if (it != m_files.end()) {
        // Another thread opened it meanwhile: keep the one that can do more.
        if (it->handle->open_mode() == positional_file::mode::read_write || m == positional_file::mode::read_only) {
            m_files.splice(m_files.begin(), m_files, it);
            closing.push_back(std::move(handle));
            auto kept = it->handle;
            trim(closing);
            return kept;
        }
        closing.push_back(std::move(it->handle));
        m_files.erase(it);
    }
    m_files.push_front({storage, file, handle});
    trim(closing);
    return handle;
}

void open_file_set::trim(std::vector<std::shared_ptr<positional_file>>& out)
{
    while (int(m_files.size()) > m_limit) {
        out.push_back(std::move(m_files.back().handle));
        m_files.pop_back();
    }
}

void open_file_set::close_storage(lt::storage_index_t storage, bool flush)
{
    std::vector<entry> closing;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        for (auto it = m_files.begin(); it != m_files.end();) {
            if (it->storage == storage) {
                closing.push_back(std::move(*it));
                it = m_files.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (!flush)
        return;
    // Outside the lock: a flush waits for the device.
    for (auto const& e : closing) {
        error_code ec;
        if (e.handle->open_mode() == positional_file::mode::read_write && !e.handle->flush(ec)) {
            std::lock_guard<std::mutex> l(m_failures->mutex);
            m_failures->failures.push_back({e.storage, e.file, ec});
        }
    }
}

void open_file_set::close_all()
{
    std::list<entry> closing;
    std::lock_guard<std::mutex> l(m_mutex);
    closing.swap(m_files);
}

void open_file_set::close_file(lt::storage_index_t storage, lt::file_index_t file)
{
    std::shared_ptr<positional_file> closing;
    std::lock_guard<std::mutex> l(m_mutex);
    auto it = std::find_if(
        m_files.begin(), m_files.end(), [&](entry const& e) { return e.storage == storage && e.file == file; });
    if (it != m_files.end()) {
        closing = std::move(it->handle);
        m_files.erase(it);
    }
}

std::vector<open_file_set::close_failure> open_file_set::take_close_failures(lt::storage_index_t storage)
{
    std::vector<close_failure> mine;
    std::lock_guard<std::mutex> l(m_failures->mutex);
    auto& all = m_failures->failures;
    for (auto it = all.begin(); it != all.end();) {
        if (it->storage == storage) {
            mine.push_back(*it);
            it = all.erase(it);
        } else {
            ++it;
        }
    }
    return mine;
}

std::optional<open_file_set::close_failure> open_file_set::first_close_failure(lt::storage_index_t storage) const
{
    std::lock_guard<std::mutex> l(m_failures->mutex);
    for (auto const& f : m_failures->failures)
        if (f.storage == storage)
            return f;
    return std::nullopt;
}

void open_file_set::set_limit(int limit)
{
    std::vector<std::shared_ptr<positional_file>> closing;
    std::lock_guard<std::mutex> l(m_mutex);
    m_limit = std::max(limit, 1);
    trim(closing);
}

int open_file_set::size() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return int(m_files.size());
}

std::vector<std::pair<lt::file_index_t, bool>> open_file_set::files_of(lt::storage_index_t storage) const
{
    std::vector<std::pair<lt::file_index_t, bool>> out;
    std::lock_guard<std::mutex> l(m_mutex);
    for (auto const& e : m_files)
        if (e.storage == storage)
            out.emplace_back(e.file, e.handle->open_mode() == positional_file::mode::read_write);
    return out;
}

} // namespace tg

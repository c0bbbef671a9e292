#include "engine/disk/torrent_files.hpp"

#include <algorithm>
#include <cstring>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/torrent_flags.hpp>

#include "engine/disk/errors.hpp"

namespace tg {

namespace {

// A rename across drives fails; the file is copied instead.
bool copy_then_remove(std::string const& src, std::string const& dst, error_code& ec)
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

} // namespace

torrent_files::torrent_files(
    lt::storage_params const& p, lt::storage_index_t index, open_file_set& open, lt::counters& counters)
    : m_original(p.files), m_save_path(p.path), m_index(index), m_open(open), m_counters(counters)
{
    if (p.mapped_files)
        m_renamed = std::make_unique<lt::file_storage>(*p.mapped_files);
}

void torrent_files::set_layout(std::unique_ptr<lt::file_storage> renamed) { m_renamed = std::move(renamed); }

void torrent_files::set_save_path(std::string path) { m_save_path = std::move(path); }

void torrent_files::report_close_failure(lt::storage_error& e, bool take)
{
    std::optional<open_file_set::close_failure> f;
    if (take) {
        auto failures = m_open.take_close_failures(m_index);
        if (!failures.empty())
            f = failures.front();
    } else {
        f = m_open.first_close_failure(m_index);
    }
    if (f)
        e = make_error(as_write_failure(f->ec), f->file, lt::operation_t::file);
}

std::shared_ptr<positional_file> torrent_files::open_for_write(lt::file_index_t f, lt::storage_error& e)
{
    std::string const path = path_of(f);
    error_code ec;
    auto h = m_open.open(m_index, f, path, positional_file::mode::read_write, ec);
    if (!h && is_missing(ec)) {
        ec.clear();
        if (!create_folders(parent_folder(path), ec)) {
            e = make_error(as_write_failure(ec), f, lt::operation_t::mkdir);
            return nullptr;
        }
        h = m_open.open(m_index, f, path, positional_file::mode::read_write, ec);
    }
    if (!h)
        e = make_error(as_write_failure(ec), f, lt::operation_t::file_open);
    return h;
}

bool torrent_files::write_blocks(lt::piece_index_t piece, int offset,
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
    for (auto const& slice : files().map_block(piece, offset, len)) {
        if (slice.size == 0)
            continue;
        // Pad files only align the next file to a piece: never written.
        if (files().pad_file_at(slice.file_index)) {
            take(slice.size, nullptr);
            continue;
        }
        auto h = open_for_write(slice.file_index, e);
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
    m_counters.inc_stats_counter(lt::counters::num_blocks_written, (len + lt::default_block_size - 1) / lt::default_block_size);
    m_counters.inc_stats_counter(lt::counters::num_write_ops);
    return true;
}

bool torrent_files::read_block(lt::piece_index_t piece, int offset, char* buf, int len, lt::storage_error& e)
{
    for (auto const& slice : files().map_block(piece, offset, len)) {
        if (slice.size == 0)
            continue;
        if (files().pad_file_at(slice.file_index)) {
            std::memset(buf, 0, std::size_t(slice.size));
            buf += slice.size;
            continue;
        }
        error_code ec;
        auto h = m_open.open(m_index, slice.file_index, path_of(slice.file_index),
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

lt::sha1_hash torrent_files::hash_piece(
    lt::piece_index_t piece, bool v1, lt::span<lt::sha256_hash> v2, lt::storage_error& e)
{
    lt::file_storage const& fs = files();
    int const size1 = v1 ? fs.piece_size(piece) : 0;
    int const size2 = v2.empty() ? 0 : fs.piece_size2(piece);
    int const blocks2 = v2.empty() ? 0 : fs.blocks_in_piece2(piece);
    int const end = std::max(size1, size2);
    lt::hasher h1;
    std::vector<char> buf(lt::default_block_size);
    int block = 0;
    for (int offset = 0; offset < end; offset += lt::default_block_size, ++block) {
        int const len = std::min(lt::default_block_size, end - offset);
        if (!read_block(piece, offset, buf.data(), len, e))
            break;
        if (v1 && offset < size1)
            h1.update(buf.data(), std::min(len, size1 - offset));
        if (block < blocks2 && offset < size2)
            v2[block] = lt::hasher256(buf.data(), std::min(len, size2 - offset)).final();
    }
    return v1 ? h1.final() : lt::sha1_hash();
}

lt::status_t torrent_files::check_files(lt::add_torrent_params const* rd, bool no_recheck,
    std::vector<lt::download_priority_t> const& prio, lt::storage_error& e)
{
    lt::file_storage const& fs = files();
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
        std::int64_t const size = file_size_at(path_of(f), ec);
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
            if (!open_for_write(f, we)) {
                e = we;
                return lt::status_t::fatal_disk_error;
            }
            sizes[std::size_t(static_cast<int>(f))] = 0;
        }
    }
    m_open.close_storage(m_index);

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
            std::int64_t const have = sizes[std::size_t(slice.file_index)];
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

std::unique_ptr<lt::file_storage> torrent_files::rename_file(lt::file_index_t index, std::string const& name, lt::storage_error& e)
{
    if (index < lt::file_index_t(0) || index >= files().end_file())
        return nullptr;
    m_open.close_file(m_index, index);
    std::string const from = path_of(index);
    auto renamed = std::make_unique<lt::file_storage>(files());
    renamed->rename_file(index, name);
    std::string const to = renamed->file_path(index, m_save_path);

    error_code ec;
    file_size_at(from, ec);
    if (!ec) {
        if (!create_folders(parent_folder(to), ec)) {
            e = make_error(ec, index, lt::operation_t::mkdir);
            return nullptr;
        }
        if (!rename_path(from, to, ec)) {
            e = make_error(ec, index, lt::operation_t::file_rename);
            return nullptr;
        }
    } else if (!is_missing(ec)) {
        e = make_error(ec, index, lt::operation_t::file_stat);
        return nullptr;
    }
    return renamed;
}

void torrent_files::delete_files(lt::storage_error& e)
{
    lt::file_storage const& fs = files();
    std::vector<std::string> folders;
    for (lt::file_index_t f : fs.file_range()) {
        if (fs.pad_file_at(f))
            continue;
        std::string const path = path_of(f);
        error_code ec;
        if (!remove_path(path, ec) && !e)
            e = make_error(ec, f, lt::operation_t::file_remove);
        // The torrent's own folders, up to the save path.
        for (std::string dir = parent_folder(path);
             dir.size() > m_save_path.size() && dir.compare(0, m_save_path.size(), m_save_path) == 0;
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

lt::status_t torrent_files::move_storage(std::string const& to, lt::move_flags_t flags, lt::storage_error& e)
{
    m_open.close_storage(m_index);
    lt::file_storage const& fs = files();
    std::string const from = m_save_path;
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
    return lt::status_t::no_error;
}

} // namespace tg

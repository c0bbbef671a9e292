// The disk I/O's errors: a storage error built in one call, and write-side
// failures moved out of the generic conditions (write_failure_category in
// file_disk_io.hpp says why). Any thread; no state.
#pragma once

#include <libtorrent/disk_interface.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/operations.hpp>
#include <libtorrent/units.hpp>

namespace tg {

using error_code = boost::system::error_code;

lt::storage_error make_error(error_code ec, lt::file_index_t file, lt::operation_t op);

// A write-side failure keeps its number but leaves the generic conditions.
error_code as_write_failure(error_code const& ec);

bool is_missing(error_code const& ec);

} // namespace tg

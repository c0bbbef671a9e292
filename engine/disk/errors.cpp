#include "engine/disk/errors.hpp"

#include "engine/file_disk_io.hpp"

namespace tg {

namespace {

class write_failure_category_impl final : public boost::system::error_category
{
public:
    char const* name() const noexcept override { return "disk write"; }
    std::string message(int ev) const override { return boost::system::system_category().message(ev); }
};

} // namespace

boost::system::error_category const& write_failure_category()
{
    static write_failure_category_impl const category;
    return category;
}

lt::storage_error make_error(error_code ec, lt::file_index_t file, lt::operation_t op)
{
    lt::storage_error e;
    e.ec = ec;
    e.file(file);
    e.operation = op;
    return e;
}

error_code as_write_failure(error_code const& ec)
{
    if (ec.category() == boost::system::system_category() || ec.category() == boost::system::generic_category())
        return error_code(ec.value(), write_failure_category());
    return ec;
}

bool is_missing(error_code const& ec) { return ec == boost::system::errc::no_such_file_or_directory; }

} // namespace tg

#include "engine/torrent_file_sources.hpp"

#include <libtorrent/bdecode.hpp>

namespace tg {

namespace {

void append_urls(lt::bdecode_node const& n, std::vector<std::string>& out)
{
    if (n.type() == lt::bdecode_node::string_t) {
        out.push_back(std::string(n.string_value()));
        return;
    }
    if (n.type() != lt::bdecode_node::list_t) return;
    for (int i = 0; i < n.list_size(); ++i) {
        lt::bdecode_node const e = n.list_at(i);
        if (e.type() == lt::bdecode_node::string_t) out.push_back(std::string(e.string_value()));
    }
}

} // namespace

std::vector<std::string> torrent_file_source_urls(lt::span<char const> torrent_file)
{
    std::vector<std::string> out;
    if (torrent_file.empty()) return out;
    lt::error_code ec;
    lt::bdecode_node const root = lt::bdecode(torrent_file, ec);
    if (ec || root.type() != lt::bdecode_node::dict_t) return out;
    append_urls(root.dict_find("url-list"), out);
    append_urls(root.dict_find("httpseeds"), out);
    return out;
}

} // namespace tg

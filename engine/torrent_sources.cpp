#include "engine/torrent_sources.hpp"

namespace tg {

void fold_source_traffic(lt::torrent_status& st, torrent_sources const& t)
{
    http_traffic const& h = t.traffic;
    st.total_download += h.payload_download + h.protocol_download;
    st.total_payload_download += h.payload_download;
    st.total_upload += h.upload;
    st.download_rate += h.download_rate;
    st.download_payload_rate += h.download_payload_rate;
    st.upload_rate += h.upload_rate;
    // The file server counts as a seed that has every piece.
    st.num_peers += t.live_connections;
    st.num_seeds += t.established_connections;
    st.num_connections += t.live_connections;
    st.list_peers += t.live_connections;
    st.list_seeds += t.live_connections;
}

void append_live_connection_rows(torrent_sources&, std::vector<peer_record>&)
{
}

} // namespace tg

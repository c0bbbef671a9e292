#include "engine/peer_record.hpp"

namespace tg {

void clear_numeric_fields(lt::peer_info& p)
{
    p.total_download = p.total_upload = 0;
    p.last_request = p.last_active = p.download_queue_time = lt::time_duration(0);
    p.flags = {};
    p.source = {};
    p.up_speed = p.down_speed = p.payload_up_speed = p.payload_down_speed = 0;
    p.queue_bytes = p.request_timeout = p.send_buffer_size = p.used_send_buffer = 0;
    p.receive_buffer_size = p.used_receive_buffer = p.receive_buffer_watermark = 0;
    p.num_hashfails = p.download_queue_length = p.timed_out_requests = p.busy_requests = 0;
    p.requests_in_buffer = p.target_dl_queue_length = p.upload_queue_length = p.failcount = 0;
    p.downloading_piece_index = lt::piece_index_t(-1);
    p.downloading_block_index = p.downloading_progress = p.downloading_total = 0;
    p.connection_type = {};
    p.pending_disk_bytes = p.pending_disk_read_bytes = p.send_quota = p.receive_quota = 0;
    p.rtt = p.num_pieces = p.download_rate_peak = p.upload_rate_peak = 0;
    p.progress = 0.f;
    p.progress_ppm = 0;
    p.read_state = p.write_state = {};
}

} // namespace tg

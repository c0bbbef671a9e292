#include "peer_list_sync.h"

#include <algorithm>

namespace tollgrove {

namespace {

constexpr std::size_t kMaxAddressChars = 63;

} // namespace

bool IsSourceRecord(const tg::peer_record& record)
{
    return record.connection_type == lt::peer_info::web_seed;
}

bool IsPeerRecord(const tg::peer_record& record)
{
    return record.connection_type == lt::peer_info::standard_bittorrent;
}

std::wstring PeerAddressText(const tg::peer_record& record)
{
    std::string text;
    try {
        text = record.ip.address().to_string();
    } catch (const std::exception&) {
        return {}; // an address the system cannot write: no text rather than a wrong one
    }
    // Address texts are ASCII; each byte widens to its own character.
    std::wstring wide(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), kMaxAddressChars)));
    return wide;
}

const wchar_t* PeerStateText(const tg::peer_record& record)
{
    bool loading;
    if (IsSourceRecord(record))
        loading = !(record.flags & tg::peer_queued);
    else
        loading = record.down_speed > 0;
    return loading ? L"Hiện đang tải" : L"Đang kết nối";
}

void ReconcilePeerRows(std::vector<tg::peer_record>& records, PeerRows& rows)
{
    // 1. Peers from which nothing has arrived get no row; sources always do.
    records.erase(std::remove_if(records.begin(), records.end(),
                      [](const tg::peer_record& r) { return !IsSourceRecord(r) && !(r.total_download > 0); }),
        records.end());

    // 2. Each row takes the first record that names it, or goes.
    int i = 0;
    while (i < rows.Count()) {
        const std::int32_t id = rows.SourceIdAt(i);
        auto found = records.end();
        if (id != 0) {
            found = std::find_if(records.begin(), records.end(),
                [id](const tg::peer_record& r) { return r.source_id == id; });
        } else {
            const std::wstring address = rows.AddressAt(i);
            found = std::find_if(records.begin(), records.end(),
                [&address](const tg::peer_record& r) { return IsPeerRecord(r) && PeerAddressText(r) == address; });
        }
        if (found == records.end()) {
            rows.Delete(i);
            continue;
        }
        rows.Fill(*found, i);
        records.erase(found);
        ++i;
    }

    // 3. New rows: sources at the top, peers at the bottom (i is the row
    // count here, and grows with every insert).
    for (const tg::peer_record& r : records) {
        const int at = IsSourceRecord(r) ? 0 : i;
        const int row = rows.Insert(at, PeerAddressText(r), r.source_id);
        if (row < 0)
            continue; // the control refused the row: nothing to fill
        rows.Fill(r, row);
        ++i;
    }
}

} // namespace tollgrove

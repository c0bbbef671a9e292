// Reconciling the peer list's rows with the engine's peer records, over a
// small list interface so that the rules run without a window. Portable.
//
// Rows are matched in place: a row that still has a record keeps its
// position and is refilled, a row without one is deleted, and records
// without a row become new rows (sources at the top, peers at the bottom).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/peer_record.hpp"

namespace tollgrove {

// The list as the reconciliation sees it. Row indexes are the control's.
class PeerRows
{
public:
    virtual ~PeerRows() = default;
    virtual int Count() const = 0;
    // The row's item data: the record's source_id (0 for a peer row).
    virtual std::int32_t SourceIdAt(int row) const = 0;
    // The row's column-0 text.
    virtual std::wstring AddressAt(int row) const = 0;
    // A new row at `row` with `address` in column 0 and `sourceId` as its
    // item data; returns the index it got, or -1.
    virtual int Insert(int row, const std::wstring& address, std::int32_t sourceId) = 0;
    virtual void Delete(int row) = 0;
    // Writes the record's columns into the row (FillPeerRow).
    virtual void Fill(const tg::peer_record& record, int row) = 0;
};

// The record names a Direct-HTTP source / a BitTorrent peer.
bool IsSourceRecord(const tg::peer_record& record);
bool IsPeerRecord(const tg::peer_record& record);

// Column 0: the address alone, without port, as the engine's address type
// writes it, at most 63 characters.
std::wstring PeerAddressText(const tg::peer_record& record);

// Column 4: "Đang kết nối" for a queued source or a peer without speed,
// else "Hiện đang tải".
const wchar_t* PeerStateText(const tg::peer_record& record);

// The three passes: drops peers without bytes from `records`, matches and
// refills or deletes the rows, then inserts rows for what is left (those
// records stay in `records`).
void ReconcilePeerRows(std::vector<tg::peer_record>& records, PeerRows& rows);

} // namespace tollgrove

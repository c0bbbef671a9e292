// The peer records the component hands out: the engine's record plus the
// number of the Direct-HTTP source it describes.
#pragma once

#include <libtorrent/peer_info.hpp>

#include <cstdint>

namespace tg {

// The engine's peer_info::queued bit (waiting in the half-open queue), which
// its public flags do not name: set on a source row by the component, read
// by the window's state column.
constexpr lt::peer_flags_t peer_queued = lt::peer_flags_t(0x100u);

struct peer_record : lt::peer_info
{
    // The source's number; 0 for BitTorrent peers.
    std::int32_t source_id = 0;
};

// Gives every plain numeric field of the engine's record a defined value;
// the engine's default constructor leaves them unset.
void clear_numeric_fields(lt::peer_info& p);

} // namespace tg

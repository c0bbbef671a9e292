// The peer list's reconciliation over a list kept in memory: which rows
// stay where, which go, where new ones land; the address and state texts.
#include <gtest/gtest.h>

#include <boost/asio/ip/address.hpp>

#include <string>
#include <vector>

#include "ui/peer_list_sync.h"

namespace {

using tollgrove::PeerAddressText;
using tollgrove::PeerStateText;
using tollgrove::ReconcilePeerRows;

struct Row
{
    std::wstring address;
    std::int32_t id;
    std::string filledFrom; // the client text of the record last filled in

    bool operator==(const Row& o) const { return address == o.address && id == o.id && filledFrom == o.filledFrom; }
};

std::ostream& operator<<(std::ostream& os, const Row& r)
{
    return os << std::string(r.address.begin(), r.address.end()) << "/" << r.id << "/" << r.filledFrom;
}

class MemoryRows : public tollgrove::PeerRows
{
public:
    std::vector<Row> rows;
    int deletes = 0;

    int Count() const override { return static_cast<int>(rows.size()); }
    std::int32_t SourceIdAt(int row) const override { return rows.at(row).id; }
    std::wstring AddressAt(int row) const override { return rows.at(row).address; }
    int Insert(int row, const std::wstring& address, std::int32_t sourceId) override
    {
        rows.insert(rows.begin() + row, Row{address, sourceId, "(not filled)"});
        return row;
    }
    void Delete(int row) override
    {
        rows.erase(rows.begin() + row);
        ++deletes;
    }
    void Fill(const tg::peer_record& record, int row) override { rows.at(row).filledFrom = record.client; }
};

tg::peer_record Record(const char* address, std::int64_t bytes, const char* tag)
{
    tg::peer_record r;
    tg::clear_numeric_fields(r);
    r.ip = lt::tcp::endpoint(boost::asio::ip::make_address(address), 6881);
    r.total_download = bytes;
    r.client = tag;
    r.connection_type = lt::peer_info::standard_bittorrent;
    return r;
}

tg::peer_record Peer(const char* address, std::int64_t bytes, const char* tag)
{
    return Record(address, bytes, tag);
}

tg::peer_record Source(std::int32_t id, const char* address, std::int64_t bytes, const char* tag)
{
    tg::peer_record r = Record(address, bytes, tag);
    r.connection_type = lt::peer_info::web_seed;
    r.source_id = id;
    return r;
}

struct SyncCase
{
    const char* name;
    std::vector<Row> before;
    std::vector<tg::peer_record> records;
    std::vector<Row> after;
    std::size_t recordsLeft; // records that got new rows stay in the list
};

void PrintTo(const SyncCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeerListSync : public testing::TestWithParam<SyncCase>
{
};

TEST_P(PeerListSync, RowsEndAsExpected)
{
    const SyncCase& c = GetParam();
    MemoryRows list;
    list.rows = c.before;
    std::vector<tg::peer_record> records = c.records;
    ReconcilePeerRows(records, list);
    EXPECT_EQ(list.rows, c.after);
    EXPECT_EQ(records.size(), c.recordsLeft);
}

const SyncCase kSyncCases[] = {
    {"PeerWithoutBytesGetsNoRow",
     {},
     {Peer("127.0.0.2", 0, "none"), Peer("127.0.0.3", 1, "one")},
     {{L"127.0.0.3", 0, "one"}},
     1},
    {"PeerRowWhoseRecordNowHasNoBytesIsDeleted",
     {{L"127.0.0.2", 0, "old"}},
     {Peer("127.0.0.2", 0, "reconnected")},
     {},
     0},
    {"TwoConnectionsFromOneAddressPairInOrder",
     {{L"127.0.0.2", 0, "old-a"}, {L"127.0.0.2", 0, "old-b"}},
     {Peer("127.0.0.2", 10, "first"), Peer("127.0.0.2", 20, "second")},
     {{L"127.0.0.2", 0, "first"}, {L"127.0.0.2", 0, "second"}},
     0},
    {"SecondConnectionFromOneAddressGetsItsOwnRow",
     {},
     {Peer("127.0.0.2", 10, "first"), Peer("127.0.0.2", 20, "second")},
     {{L"127.0.0.2", 0, "first"}, {L"127.0.0.2", 0, "second"}},
     2},
    {"SourceWithoutBytesKeepsItsRowMissingSourceGoes",
     {{L"127.0.0.1", 1, "s1"}, {L"127.0.0.1", 2, "s2"}},
     {Source(2, "127.0.0.1", 0, "s2-now")},
     {{L"127.0.0.1", 2, "s2-now"}},
     0},
    {"NewSourcesAtTheTopReversedNewPeersAtTheBottomInOrder",
     {{L"127.0.0.9", 0, "kept"}},
     {Source(1, "127.0.0.1", 0, "s1"), Source(2, "127.0.0.1", 0, "s2"), Peer("127.0.0.10", 5, "A"),
      Source(3, "127.0.0.1", 0, "s3"), Peer("127.0.0.9", 7, "kept-now"), Peer("127.0.0.11", 5, "B")},
     {{L"127.0.0.1", 3, "s3"}, {L"127.0.0.1", 2, "s2"}, {L"127.0.0.1", 1, "s1"},
      {L"127.0.0.9", 0, "kept-now"}, {L"127.0.0.10", 0, "A"}, {L"127.0.0.11", 0, "B"}},
     5},
    {"EmptyRecordsDeleteEveryRow",
     {{L"127.0.0.1", 1, "s1"}, {L"127.0.0.2", 0, "p"}, {L"127.0.0.3", 0, "q"}},
     {},
     {},
     0},
    {"RowsKeepTheirPlacesWhateverTheRecordOrder",
     {{L"127.0.0.5", 0, "p5"}, {L"127.0.0.1", 4, "s4"}, {L"127.0.0.6", 0, "p6"}},
     {Peer("127.0.0.6", 1, "p6-now"), Source(4, "127.0.0.1", 9, "s4-now"), Peer("127.0.0.5", 1, "p5-now")},
     {{L"127.0.0.5", 0, "p5-now"}, {L"127.0.0.1", 4, "s4-now"}, {L"127.0.0.6", 0, "p6-now"}},
     0},
    {"PeerRowIsNotTakenBySourceAtTheSameAddress",
     {{L"127.0.0.1", 0, "peer"}},
     {Source(1, "127.0.0.1", 3, "source")},
     {{L"127.0.0.1", 1, "source"}},
     1},
    {"NegativeByteCountCountsAsNothing",
     {},
     {Peer("127.0.0.2", -1, "bad")},
     {},
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, PeerListSync, testing::ValuesIn(kSyncCases),
    [](const testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.name); });

TEST(PeerListTexts, AddressIsTheAddressAloneStateFollowsTheRule)
{
    EXPECT_EQ(PeerAddressText(Peer("127.0.0.1", 0, "")), L"127.0.0.1");
    EXPECT_EQ(PeerAddressText(Peer("::1", 0, "")), L"::1");

    struct StateCase
    {
        tg::peer_record record;
        int downSpeed;
        bool queued;
        const wchar_t* text;
    };
    const StateCase cases[] = {
        {Source(1, "127.0.0.1", 0, ""), 500, true, L"Đang kết nối"},
        {Source(1, "127.0.0.1", 0, ""), 0, false, L"Hiện đang tải"},
        {Peer("127.0.0.2", 10, ""), 0, false, L"Đang kết nối"},
        {Peer("127.0.0.2", 10, ""), -3, false, L"Đang kết nối"},
        {Peer("127.0.0.2", 10, ""), 1, false, L"Hiện đang tải"},
        {Peer("127.0.0.2", 10, ""), 1, true, L"Hiện đang tải"}, // the queued flag is a source's rule only
    };
    for (const StateCase& c : cases) {
        tg::peer_record r = c.record;
        r.down_speed = c.downSpeed;
        if (c.queued)
            r.flags |= tg::peer_queued;
        EXPECT_STREQ(PeerStateText(r), c.text) << "speed " << c.downSpeed << " queued " << c.queued;
    }
}

} // namespace

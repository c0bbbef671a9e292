// Piece picking for the Direct-HTTP connections and the verdicts on the
// pieces handed to the engine.
#include "engine/http_piece_picker.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace tg {
namespace {

constexpr lt::piece_index_t operator""_p(unsigned long long i)
{
    return lt::piece_index_t(int(i));
}

struct engine_view
{
    lt::typed_bitfield<lt::piece_index_t> have;
    std::set<lt::piece_index_t> queue;
    std::vector<lt::download_priority_t> priorities;

    explicit engine_view(int n) : priorities(std::size_t(n), lt::default_priority) { have.resize(n, false); }
};

class HttpPiecePicker : public ::testing::Test
{
protected:
    http_piece_picker picker;
    engine_view view{6};
    void SetUp() override { picker.init(6, 32, 20, 16); }
    std::vector<lt::piece_index_t> refresh() { return picker.refresh(view.have, view.queue, view.priorities); }
};

TEST_F(HttpPiecePicker, LowestFreePieceFirstSkippingWhatOthersHold)
{
    view.have.set_bit(lt::piece_index_t(0));
    view.queue = {1_p};                         // a peer is fetching it
    view.priorities[2] = lt::dont_download;     // not wanted
    refresh();
    EXPECT_EQ(picker.pick(), 3_p);
    EXPECT_EQ(picker.pick(), 4_p);
    EXPECT_EQ(picker.pick(), 5_p);
    // Only the peers' piece is left: taken as a last resort, once.
    EXPECT_EQ(picker.pick(), 1_p);
    EXPECT_EQ(picker.pick(), http_piece_picker::no_piece);
    picker.release(4_p);
    EXPECT_EQ(picker.pick(), 4_p);
}

TEST_F(HttpPiecePicker, BlocksBecomeAPieceOnceAndAwaitTheVerdict)
{
    refresh();
    ASSERT_EQ(picker.pick(), 0_p);
    piece_buffer piece;
    std::string const a(16, 'a'), b(16, 'b');
    EXPECT_FALSE(picker.block_received(0_p, 16, b.data(), 16, piece));
    EXPECT_FALSE(picker.block_received(0_p, 16, b.data(), 16, piece)); // repeated block
    EXPECT_FALSE(picker.block_received(1_p, 0, a.data(), 16, piece));  // piece not taken
    EXPECT_FALSE(picker.block_received(0_p, 8, a.data(), 16, piece));  // not a block start
    ASSERT_TRUE(picker.block_received(0_p, 0, a.data(), 16, piece));
    EXPECT_EQ(std::string(piece.data(), 32), a + b);
    EXPECT_TRUE(picker.waiting_for_verdict(0_p));
    EXPECT_EQ(picker.pick(), 1_p); // not picked again while it waits

    // The last piece is shorter.
    ASSERT_EQ(picker.piece_size(5_p), 20);
}

TEST_F(HttpPiecePicker, RejectedPiecesAreFetchedAgain)
{
    refresh();
    piece_buffer piece;
    std::string const block(16, 'x');
    for (lt::piece_index_t p : {0_p, 1_p, 2_p}) {
        ASSERT_EQ(picker.pick(), p);
        picker.block_received(p, 0, block.data(), 16, piece);
        picker.block_received(p, 16, block.data(), 16, piece);
    }
    // Piece 0 passed; 1 is still being checked; 2 vanished from the engine.
    view.have.set_bit(lt::piece_index_t(0));
    view.queue = {1_p};
    EXPECT_TRUE(refresh().empty()); // one read without 2 is not yet a verdict
    EXPECT_EQ(refresh(), std::vector<lt::piece_index_t>{2_p});
    EXPECT_FALSE(picker.waiting_for_verdict(0_p));
    EXPECT_TRUE(picker.waiting_for_verdict(1_p));
    EXPECT_EQ(picker.rejected_pieces(), 1);
    view.queue.clear();
    EXPECT_EQ(picker.pick(), 2_p);
    // A piece stuck in the engine's queue far longer than a check takes is
    // fetched again too.
    view.queue = {1_p};
    std::vector<lt::piece_index_t> again;
    for (int i = 0; i < 20 && again.empty(); ++i) again = refresh();
    EXPECT_EQ(again, std::vector<lt::piece_index_t>{1_p});
}

TEST_F(HttpPiecePicker, WholeBlocksOfAnEndedConnectionGoToTheNextOwner)
{
    // Piece 0 (two blocks of 16): its first block arrived, then owner 1's
    // connection ended.
    ASSERT_EQ(picker.pick(1), 0_p);
    EXPECT_EQ(picker.first_missing_block(0_p, 1), 0);
    std::string const first(16, 'a'), second(16, 'b');
    piece_buffer whole;
    EXPECT_FALSE(picker.block_received(0_p, 0, first.data(), 16, whole, 1));
    EXPECT_EQ(picker.first_missing_block(0_p, 1), 16);
    piece_buffer const old = picker.release_keeping_blocks(0_p, 1);
    ASSERT_TRUE(old);
    EXPECT_FALSE(picker.taken(0_p));

    // The next owner takes the block over and asks only for the rest, even
    // after the old buffer is overwritten (a late read of the old socket).
    std::memset(old.data(), 'x', 32);
    ASSERT_EQ(picker.pick(2), 0_p);
    EXPECT_EQ(picker.first_missing_block(0_p, 2), 16);
    ASSERT_TRUE(picker.block_received(0_p, 16, second.data(), 16, whole, 2));
    EXPECT_EQ(std::string(whole.data(), 32), first + second);

    // A piece with no whole block keeps nothing; one the engine got
    // meanwhile drops what was kept.
    ASSERT_EQ(picker.pick(1), 1_p);
    picker.release_keeping_blocks(1_p, 1);
    ASSERT_EQ(picker.pick(2), 1_p);
    EXPECT_EQ(picker.first_missing_block(1_p, 2), 0);
    EXPECT_FALSE(picker.block_received(1_p, 0, first.data(), 16, whole, 2));
    picker.release_keeping_blocks(1_p, 2);
    view.have.set_bit(0_p); // the piece delivered above passed
    view.have.set_bit(1_p);
    refresh();
    view.have.clear_bit(1_p);
    refresh();
    ASSERT_EQ(picker.pick(3), 1_p);
    EXPECT_EQ(picker.first_missing_block(1_p, 3), 0);
}

TEST_F(HttpPiecePicker, PieceBuffersAreReusedAndBytesWrittenInPlaceAreNotCopied)
{
    refresh();
    picker.set_spare_buffers(1);
    ASSERT_EQ(picker.pick(), 0_p);
    // The body read straight into the piece's buffer: the block arrives
    // from where it already is.
    char* const at0 = picker.block_destination(0_p, 0);
    char* const at16 = picker.block_destination(0_p, 16);
    ASSERT_NE(at0, nullptr);
    EXPECT_EQ(at16, at0 + 16); // the blocks of a piece follow each other
    EXPECT_EQ(picker.block_destination(0_p, 8), nullptr);  // not a block start
    EXPECT_EQ(picker.block_destination(0_p, 32), nullptr); // past the piece
    EXPECT_EQ(picker.block_destination(1_p, 0), nullptr); // not taken
    std::memset(at0, 'p', 32);
    piece_buffer piece;
    EXPECT_FALSE(picker.block_received(0_p, 0, at0, 16, piece));
    ASSERT_TRUE(picker.block_received(0_p, 16, at16, 16, piece));
    EXPECT_EQ(piece.data(), at0);
    EXPECT_EQ(std::string(piece.data(), 32), std::string(32, 'p'));

    // Handed back, the buffer serves the next piece; its old bytes are not
    // cleared, and the new piece's blocks overwrite them.
    picker.recycle(std::move(piece));
    EXPECT_EQ(picker.spare_buffers(), 1u);
    ASSERT_EQ(picker.pick(), 1_p);
    EXPECT_EQ(picker.block_destination(1_p, 0), at0);
    EXPECT_EQ(picker.spare_buffers(), 0u);
    std::string const x(16, 'x');
    EXPECT_FALSE(picker.block_received(1_p, 16, x.data(), 16, piece));
    // An unfinished piece given back returns its buffer too.
    picker.release(1_p);
    EXPECT_EQ(picker.spare_buffers(), 1u);
    // No more are kept than asked for.
    ASSERT_EQ(picker.pick(), 1_p);
    ASSERT_EQ(picker.pick(), 2_p);
    picker.block_destination(1_p, 0);
    picker.block_destination(2_p, 0);
    picker.release(1_p);
    picker.release(2_p);
    EXPECT_EQ(picker.spare_buffers(), 1u);
}

} // namespace
} // namespace tg

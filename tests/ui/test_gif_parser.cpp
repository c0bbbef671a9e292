// The GIF block walk over crafted GIFs: counting graphic blocks, cutting
// frames out, and every prefix of each GIF (a file cut short anywhere).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "gif_builder.h"
#include "gif_parser.h"

namespace {

struct WalkCase
{
    const char* name;
    std::function<GifBuilder()> make;
    int count; // graphic blocks the walk finds; -1: as many as were built
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.name;
}

GifBuilder Gif()
{
    return GifBuilder(16, 8);
}

const WalkCase kCases[] = {
    {"OneControlledImage", [] { return Gif().Control(0, 0, 5).Image(0, 0, 16, 8, 1).Trailer(); }, -1},
    {"AnnotationsBeforeBetweenAndAfter",
     [] {
         return Gif()
             .Application()
             .Comment("before")
             .Control(10, 2)
             .Image(0, 0, 4, 4, 1)
             .Comment("between")
             .Application()
             .Control(20, 3)
             .Comment("inside the frame")
             .Application()
             .Image(2, 2, 3, 3, 2)
             .Comment("after")
             .Application()
             .Trailer();
     },
     -1},
    {"TrailerFirst", [] { return Gif().Trailer(); }, 0},
    {"ImagesWithoutControl", [] { return Gif().Image(0, 0, 2, 2, 1).Image(1, 1, 2, 2, 2).Image(0, 0, 16, 8, 3).Trailer(); }, -1},
    {"PlainTextFrames", [] { return Gif().Control(5, 1).PlainText(1, 2, 8, 4).PlainText(0, 0, 16, 8).Trailer(); }, -1},
    {"LocalColourTable", [] { return Gif().Control(7, 0).Image(0, 0, 16, 8, 1, true).Trailer(); }, -1},
    {"TwoControlsOneImage", [] { return Gif().Control(30, 2).Control(40, 3).Image(0, 0, 16, 8, 1).Trailer(); }, -1},
    {"EndsExactlyAtDataEnd", [] { return Gif().Control(0, 0).Image(0, 0, 16, 8, 1); }, -1},
    {"Gif87aWithoutGlobalTable", [] { return GifBuilder(4, 4, false, "GIF87a").Image(0, 0, 4, 4, 1).Trailer(); }, -1},
    {"LongImageDataChain", [] { return GifBuilder(200, 100).Control(1, 0).Image(0, 0, 200, 100, 9).Trailer(); }, -1},
    // Malformed: the walk stops at the fault; the graphic blocks before it count.
    {"ImageOneBytePastEnd",
     [] {
         GifBuilder g = Gif().Control(0, 0).Image(0, 0, 16, 8, 1);
         g.bytes.pop_back();
         return g;
     },
     0},
    {"CommentChainRunsOffEnd", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21, 0xFE, 200, 'x', 'y'}); }, 1},
    {"ChainOfMaximalSubBlocksRunsOffEnd", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}); }, 1},
    {"ImageChainRunsOffEnd", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 8, 50, 1, 2}); }, 1},
    {"ImageLocalTableRunsOffEnd", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x87, 8}); }, 1},
    {"ApplicationHeaderCutShort", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21, 0xFF, 0x0B, 'N', 'E'}); }, 1},
    {"UnknownExtensionLabel", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21, 0x55, 0x00}).Image(0, 0, 2, 2, 1); }, 1},
    {"UnknownByte", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x00}).Image(0, 0, 2, 2, 1); }, 1},
    {"ControlThenTrailer", [] { return Gif().Image(0, 0, 2, 2, 1).Control(0, 0).Trailer(); }, 1},
    {"ControlThenUnknown", [] { return Gif().Image(0, 0, 2, 2, 1).Control(0, 0).Raw({0x77}); }, 1},
    {"IntroducerIsLastByte", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21}); }, 1},
    {"ControlCutShort", [] { return Gif().Image(0, 0, 2, 2, 1).Raw({0x21, 0xF9, 0x04, 0x00}); }, 1},
};

GifParseState StateOver(const std::vector<uint8_t>& bytes, size_t size)
{
    GifHeader header;
    EXPECT_TRUE(ReadGifHeader(bytes.data(), size, &header));
    return StartGifParse(bytes.data(), uint32_t(size), header);
}

// The stand-alone frame that the extraction must build for frame f.
std::vector<uint8_t> ExpectedFrameGif(const GifBuilder& g, const GifBuilder::Frame& f)
{
    std::vector<uint8_t> out(g.bytes.begin(), g.bytes.begin() + g.headerSize);
    out.insert(out.end(), g.bytes.begin() + f.start, g.bytes.begin() + f.end);
    out.push_back(0x3B);
    return out;
}

class GifWalk : public ::testing::TestWithParam<WalkCase>
{
};

TEST_P(GifWalk, CountsGraphicBlocksAndCutsEachFrame)
{
    const GifBuilder g = GetParam().make();
    const size_t expected = GetParam().count < 0 ? g.frames.size() : size_t(GetParam().count);
    EXPECT_EQ(CountGraphicBlocks(StateOver(g.bytes, g.bytes.size())), expected);

    GifParseState s = StateOver(g.bytes, g.bytes.size());
    for (size_t i = 0; i < expected; ++i) {
        GifFrame frame;
        ASSERT_TRUE(ExtractFrame(s, &frame)) << "frame " << i;
        EXPECT_EQ(frame.gif, ExpectedFrameGif(g, g.frames[i])) << "frame " << i;
        EXPECT_EQ(s.pos, g.frames[i].end);
    }
    GifFrame none;
    EXPECT_FALSE(ExtractFrame(s, &none));
}

// A file cut short after any byte still walks the graphic blocks that lie
// wholly inside it and none beyond, and the walk never reads past the cut
// (the sanitizers watch the copy of each prefix).
TEST_P(GifWalk, EveryPrefixWalksOnlyItsWholeGraphicBlocks)
{
    const GifBuilder g = GetParam().make();
    const size_t expected = GetParam().count < 0 ? g.frames.size() : size_t(GetParam().count);
    for (size_t cut = g.headerSize; cut <= g.bytes.size(); ++cut) {
        const std::vector<uint8_t> prefix(g.bytes.begin(), g.bytes.begin() + cut);
        size_t whole = 0;
        while (whole < expected && g.frames[whole].end <= cut)
            ++whole;
        ASSERT_EQ(CountGraphicBlocks(StateOver(prefix, cut)), whole) << "cut at " << cut;
        GifParseState s = StateOver(prefix, cut);
        GifFrame frame;
        size_t cutOut = 0;
        while (ExtractFrame(s, &frame))
            ++cutOut;
        ASSERT_EQ(cutOut, whole) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Crafted, GifWalk, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(GifFrame, CarriesControlValuesAndImageGeometry)
{
    const GifBuilder g = Gif()
                             .Control(300, 2, 7)
                             .Image(3, 4, 5, 2, 1)
                             .Control(1, 3)
                             .Comment("c")
                             .Control(99, 1) // a second control in one frame: the first one counts
                             .Image(1, 2, 9, 6, 1)
                             .Image(6, 5, 4, 3, 1)
                             .Control(0xFFFF, 7)
                             .PlainText(2, 1, 12, 7)
                             .Trailer();
    GifParseState s = StateOver(g.bytes, g.bytes.size());
    struct Want
    {
        uint32_t delay, disposal;
        bool hasControl;
        int32_t left, top, width, height;
    };
    const Want want[] = {
        {300, 2, true, 3, 4, 5, 2},
        {1, 3, true, 1, 2, 9, 6},
        {0, 0, false, 6, 5, 4, 3}, // no control extension: delay 0, disposal 0
        {0xFFFF, 7, true, 2, 1, 12, 7},
    };
    for (const Want& w : want) {
        GifFrame f;
        ASSERT_TRUE(ExtractFrame(s, &f));
        EXPECT_EQ(f.delay, w.delay);
        EXPECT_EQ(f.disposal, w.disposal);
        EXPECT_EQ(f.hasControl, w.hasControl);
        EXPECT_EQ(f.left, w.left);
        EXPECT_EQ(f.top, w.top);
        EXPECT_EQ(f.width, w.width);
        EXPECT_EQ(f.height, w.height);
    }
    GifFrame f;
    EXPECT_FALSE(ExtractFrame(s, &f));
}

TEST(GifBlocks, ClassifyAndMeasureEachKind)
{
    struct Kind
    {
        std::vector<uint8_t> bytes; // one block, then data that must not count
        GifBlock kind;
        int64_t length;
    };
    const Kind kinds[] = {
        {{0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0, 0x3B}, GifBlock::Application, 19},
        {{0x21, 0xFE, 2, 'h', 'i', 1, '!', 0, 0x3B}, GifBlock::Comment, 8},
        {{0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x3B}, GifBlock::GraphicControl, 8},
        {{0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 1, 'a', 0, 0x3B}, GifBlock::PlainText, 18},
        {{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 8, 1, 0, 0, 0x3B}, GifBlock::Image, 14},
        {{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x80, 1, 2, 3, 4, 5, 6, 8, 0, 0x3B}, GifBlock::Image, 18},
        {{0x3B, 0x3B}, GifBlock::Trailer, 1},
        {{0x21, 0x02, 0}, GifBlock::Unknown, -1},
        {{0x00}, GifBlock::Unknown, -1},
    };
    for (const Kind& k : kinds) {
        GifParseState s;
        s.data = k.bytes.data();
        s.size = uint32_t(k.bytes.size());
        EXPECT_EQ(ClassifyBlock(s), k.kind);
        EXPECT_EQ(MeasureBlock(s), k.length);
        EXPECT_EQ(AdvancePastBlock(s), k.length > 0);
        EXPECT_EQ(s.pos, uint32_t(k.length > 0 ? k.length : 0));
    }
}

TEST(GifBlocks, NothingUnderTheParseFailsEveryWalk)
{
    GifParseState s;
    GifFrame f;
    EXPECT_EQ(ClassifyBlock(s), GifBlock::Unknown);
    EXPECT_FALSE(AdvancePastBlock(s));
    EXPECT_FALSE(SkipFrameBlocks(s));
    EXPECT_FALSE(ExtractFrame(s, &f));
    EXPECT_EQ(CountGraphicBlocks(s), 0u);
}

TEST(GifHeader, SignatureVersionsAndLogicalScreen)
{
    const GifBuilder with = GifBuilder(77, 39);
    GifHeader h;
    ASSERT_TRUE(IsGifSignature(with.bytes.data(), with.bytes.size()));
    ASSERT_TRUE(ReadGifHeader(with.bytes.data(), with.bytes.size(), &h));
    EXPECT_EQ(h.width, 77u);
    EXPECT_EQ(h.height, 39u);
    EXPECT_EQ(h.globalColorTableSize, 768u);
    EXPECT_EQ(h.firstBlock, 781u);

    const GifBuilder without = GifBuilder(300, 2, false, "GIF87a");
    ASSERT_TRUE(IsGifSignature(without.bytes.data(), without.bytes.size()));
    ASSERT_TRUE(ReadGifHeader(without.bytes.data(), without.bytes.size(), &h));
    EXPECT_EQ(h.width, 300u);
    EXPECT_EQ(h.globalColorTableSize, 0u);
    EXPECT_EQ(h.firstBlock, 13u);

    for (const char* other : {"GIF88a", "GIF89b", "gif89a", "BM6\0\0\0"})
        EXPECT_FALSE(IsGifSignature(reinterpret_cast<const uint8_t*>(other), 6)) << other;
    EXPECT_FALSE(IsGifSignature(with.bytes.data(), 5));
    EXPECT_FALSE(ReadGifHeader(with.bytes.data(), 12, &h)); // signature but no full screen descriptor
}

// The picture the program ships: one still frame of 77 x 39 with a
// 256-entry global table and a control extension (transparent, delay 0,
// disposal 0).
TEST(ShippedPicture, IsOneTransparentFrameOf77By39)
{
    std::string path = TG_SOURCE_DIR "/res/tollgrove_logo.gif";
#ifdef _WIN32
    path = "Z:" + path; // the host's root as Wine shows it
#endif
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(IsGifSignature(bytes.data(), bytes.size()));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
    GifHeader h;
    ASSERT_TRUE(ReadGifHeader(bytes.data(), bytes.size(), &h));
    EXPECT_EQ(h.width, 77u);
    EXPECT_EQ(h.height, 39u);
    EXPECT_EQ(h.globalColorTableSize, 256u * 3);
    GifParseState s = StartGifParse(bytes.data(), uint32_t(bytes.size()), h);
    EXPECT_EQ(CountGraphicBlocks(s), 1u);
    ASSERT_EQ(ClassifyBlock(s), GifBlock::GraphicControl);
    EXPECT_EQ(bytes[s.pos + 3] & 1, 1) << "transparent colour flag";
    GifFrame f;
    ASSERT_TRUE(ExtractFrame(s, &f));
    EXPECT_TRUE(f.hasControl);
    EXPECT_EQ(f.delay, 0u);
    EXPECT_EQ(f.disposal, 0u);
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.width, 77);
    EXPECT_EQ(f.height, 39);
    EXPECT_EQ(ClassifyBlock(s), GifBlock::Trailer);
    EXPECT_EQ(s.pos + 1, bytes.size());
    EXPECT_EQ(f.gif, bytes); // one frame cut out is the whole file again
}

} // namespace

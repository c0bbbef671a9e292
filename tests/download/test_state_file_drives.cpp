// Runs through tools/testdrives/with-test-drives.sh: T: is a 256 KiB tmpfs.
// A state file replaced on a drive that fills up during the write keeps its
// earlier contents whole.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "replace_file.h"

namespace fs = std::filesystem;
using namespace tollgrove;

TEST(StateFileOnAFullDrive, TheEarlierFileStaysWhole)
{
    const char* drives = std::getenv("TG_TEST_DRIVES");
    if (!drives || std::strcmp(drives, "mounted") != 0)
        GTEST_SKIP() << "small drives not mounted (the tmpfs mounts need root)";
    const fs::path p = L"T:\\game.resume";
    const std::vector<char> good(100 * 1024, 'g');
    ASSERT_TRUE(ReplaceFileContents(p, good));
    // The old file and the new one do not fit side by side.
    EXPECT_FALSE(ReplaceFileContents(p, std::vector<char>(200 * 1024, 'n')));
    std::ifstream in(p, std::ios::binary);
    const std::vector<char> after{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(after, good);
    EXPECT_FALSE(fs::exists(TemporaryPathFor(p)));
    // Room again: the replacement goes through.
    in.close();
    EXPECT_TRUE(ReplaceFileContents(p, std::vector<char>(120 * 1024, 'n')));
    fs::remove(p);
}

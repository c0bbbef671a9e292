// Runs through tools/testdrives/with-test-drives.sh: T: is a small tmpfs
// (fixed), R: a small tmpfs Wine reports as removable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "http_download.h"
#include "test_http_server.h"
#include "win_test_files.h"

namespace {

class Drives : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* drives = std::getenv("TG_TEST_DRIVES");
        if (!drives || std::strcmp(drives, "mounted") != 0)
            GTEST_SKIP() << "small drives not mounted (the tmpfs mounts need root)";
    }
};

uint64_t FreeBytes(const wchar_t* root)
{
    ULARGE_INTEGER available = {}, total = {}, free = {};
    GetDiskFreeSpaceExW(root, &available, &total, &free);
    return available.QuadPart;
}

} // namespace

TEST_F(Drives, DriveTypesAreReal)
{
    EXPECT_EQ(GetDriveTypeW(L"T:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    EXPECT_EQ(GetDriveTypeW(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
}

TEST_F(Drives, FreeSpaceEqualToTheCountIsNotEnough)
{
    const uint64_t free = FreeBytes(L"T:\\");
    ASSERT_GT(free, 0u);
    ASSERT_LT(free, 1u << 20);
    const uint32_t n = static_cast<uint32_t>(free);
    EXPECT_FALSE(HasEnoughFreeSpace(L"T:\\", n));
    EXPECT_TRUE(HasEnoughFreeSpace(L"T:\\", n - 1));
    EXPECT_FALSE(HasEnoughFreeSpace(L"R:\\", 1)); // removable never counts
    EXPECT_FALSE(HasEnoughFreeSpace(L"Q:\\", 1)); // no such drive
    EXPECT_FALSE(HasEnoughFreeSpace(L"", 1));
    EXPECT_TRUE(HasEnoughFreeSpace(L"C:\\", 65536));
}

TEST_F(Drives, WriteFailureIsDiskFullUnlessAFixedDriveHasRoom)
{
    EXPECT_EQ(WriteFailureError(L"C:\\x\\y.torrent", 65536), DLERR_WRITE_FILE);
    EXPECT_EQ(WriteFailureError(L"R:\\y.torrent", 1), DLERR_DISK_FULL);
    EXPECT_EQ(WriteFailureError(L"T:\\y.torrent", static_cast<uint32_t>(FreeBytes(L"T:\\"))), DLERR_DISK_FULL);
}

TEST_F(Drives, DownloadOntoAFullDriveIsDiskFull)
{
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Route(R"({"path": "/big.torrent", "body_size": 1048576})"));
    for (const wchar_t* target : {L"T:\\big.torrent", L"R:\\big.torrent"}) {
        DownloadError error = DLERR_OK;
        EXPECT_FALSE(HttpDownloadToFile(server.Url("/big.torrent"), nullptr, error, target));
        EXPECT_EQ(error, DLERR_DISK_FULL);
        EXPECT_FALSE(FileExists(target)); // neither a truncated file
        EXPECT_FALSE(FileExists(std::wstring(target) + L".part")); // nor the bytes written so far
        DeleteFileW(target);
    }
}

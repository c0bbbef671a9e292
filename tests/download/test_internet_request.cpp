// The request helper against real servers on 127.0.0.1: a slow body that
// keeps coming arrives whole, however long it takes; servers that accept
// and then go quiet, trickle or stop are given up by the limits; a stop
// ends a request at once; a body larger than its caller takes is refused.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fast_clock.h"
#include "internet_request.h"
#include "test_http_server.h"

using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

// The program's time limits run ten times faster here: its 30 s stall and
// 60 s window take 3 s and 6 s, and a server's "every 10 s" is every 1 s.
constexpr int kScale = 10;

std::string ScaledSeconds(double programSeconds)
{
    return std::to_string(programSeconds / kScale);
}

// The program's time limits over a body of any size.
RequestLimits AnyBody()
{
    RequestLimits limits;
    limits.sizeCap = UINT64_MAX;
    return limits;
}

class InternetRequestTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.Start(120)) << "test HTTP server did not start"; }

    // Opens and reads the whole body; false with the last error of the failing call.
    bool Fetch(InternetRequest& request, const std::string& path, std::string& body)
    {
        if (!request.Open(server.Url(path), std::wstring(), INTERNET_FLAG_RELOAD))
            return false;
        char buffer[4096];
        for (;;) {
            DWORD got = 0;
            if (!request.Read(buffer, sizeof buffer, got))
                return false;
            if (got == 0)
                return true;
            body.append(buffer, got);
        }
    }

    TestHttpServer server;
};

} // namespace

// Each is given up by the limit that covers it, no earlier, and not by the
// server (which goes on for minutes) or by WinINet's own time-outs.
TEST_F(InternetRequestTest, StallingServersAreGivenUpByTheLimits)
{
    struct Case
    {
        std::string route;
        const char* what;
        seconds earliest; // on the program's clock
        size_t maxBody;
    } cases[] = {
        {R"({"path": "/q", "silent": true})", "never answers", seconds(30), 0},
        {R"({"path": "/q", "body_size": 1000, "trickle_head": true, "trickle": )" + ScaledSeconds(10) + "}",
         "trickles its head", seconds(30), 0},
        {R"({"path": "/q", "body_size": 1000, "stall_after": 0})", "silent after the head", seconds(30), 0},
        {R"({"path": "/q", "body_size": 200000, "stall_after": 100000})", "stops halfway", seconds(30), 100000},
        {R"({"path": "/q", "body_size": 1000, "trickle": )" + ScaledSeconds(10) + "}", "one byte every 10 s",
         seconds(60), 8},
        // Every call then returns at once: the limits are looked at anyway.
        {R"({"path": "/q", "body_size": 100000, "rate": )" + std::to_string(200 * kScale) + "}", "200 bytes a second",
         seconds(60), 20000},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Route(c.route));
        const FastClock clock(kScale);
        InternetRequest request(AnyBody(), nullptr, &clock);
        std::string body;
        const milliseconds start = clock.Now();
        EXPECT_FALSE(Fetch(request, "/q", body)) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT)) << c.what;
        const milliseconds took = clock.Now() - start;
        EXPECT_GE(took.count(), milliseconds(c.earliest).count()) << c.what;
        EXPECT_LT(clock.RealSeconds(took), 20.0) << c.what;
        EXPECT_LE(body.size(), c.maxBody) << c.what;
        EXPECT_EQ(body, TestHttpServer::PatternBytes(body.size())) << c.what;
        DWORD status = 0;
        EXPECT_FALSE(request.QueryStatus(status)) << c.what; // given up for good
    }
}

// 200 KiB at 4 KiB/s on the program's clock: 50 s, longer than any limit,
// and every byte arrives.
TEST_F(InternetRequestTest, ThrottledBodyArrivesWholeHoweverLongItTakes)
{
    const int size = 200 * 1024;
    ASSERT_TRUE(server.Route(R"({"path": "/t", "body_size": )" + std::to_string(size) + R"(, "rate": )" +
                             std::to_string(4 * 1024 * kScale) + "}"));
    const FastClock clock(kScale);
    InternetRequest request(AnyBody(), nullptr, &clock);
    std::string body;
    const milliseconds start = clock.Now();
    ASSERT_TRUE(Fetch(request, "/t", body)) << GetLastError();
    EXPECT_GT((clock.Now() - start).count(), milliseconds(seconds(30)).count());
    EXPECT_TRUE(body == TestHttpServer::PatternBytes(size));
}

TEST_F(InternetRequestTest, SlowButSteadyAnswerArrivesWhole)
{
    ASSERT_TRUE(server.Route(R"({"path": "/s", "body_size": 12, "trickle": 0.05})"));
    InternetRequest request(AnyBody());
    std::string body;
    ASSERT_TRUE(Fetch(request, "/s", body));
    EXPECT_EQ(body, TestHttpServer::PatternBytes(12));
    DWORD status = 0;
    EXPECT_TRUE(request.QueryStatus(status));
    EXPECT_EQ(status, 200u);
    uint32_t length = 0;
    EXPECT_TRUE(QueryContentLength(request, length));
    EXPECT_EQ(length, 12u);
}

// A body larger than the caller takes: refused from its Content-Length
// before a byte is read, or, without one, at the first read past the cap.
TEST_F(InternetRequestTest, BodyAboveTheSizeCapIsRefused)
{
    struct Case
    {
        const char* route;
        size_t maxBody;
    } cases[] = {
        {R"({"path": "/b", "body_size": 1001})", 0},
        {R"({"path": "/b", "body_size": 5000, "content_length": "omit", "close": true})", 1000},
        {R"({"path": "/b", "body_size": 5000, "chunked": true, "chunk_size": 100})", 1000},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Route(c.route));
        RequestLimits limits = AnyBody();
        limits.sizeCap = 1000;
        InternetRequest request(limits);
        ASSERT_TRUE(request.Open(server.Url("/b"), std::wstring(), INTERNET_FLAG_RELOAD)) << c.route;
        uint32_t length = 0;
        if (QueryContentLength(request, length)) {
            EXPECT_FALSE(QueryBodyLength(request, length)) << c.route;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE)) << c.route;
            continue;
        }
        std::string body;
        char buffer[4096];
        DWORD got = 0;
        while (request.Read(buffer, sizeof buffer, got) && got > 0)
            body.append(buffer, got);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE)) << c.route;
        EXPECT_LE(body.size(), c.maxBody) << c.route;
    }

    // At the cap, it is taken whole.
    ASSERT_TRUE(server.Route(R"({"path": "/b", "body_size": 1000})"));
    RequestLimits limits = AnyBody();
    limits.sizeCap = 1000;
    InternetRequest request(limits);
    std::string body;
    EXPECT_TRUE(Fetch(request, "/b", body));
    uint32_t length = 0;
    EXPECT_TRUE(QueryBodyLength(request, length));
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(body, TestHttpServer::PatternBytes(1000));
}

TEST_F(InternetRequestTest, RaisedFlagEndsABlockedRequestAtOnce)
{
    ASSERT_TRUE(server.Route(R"({"path": "/q", "silent": true})"));
    std::atomic<BOOL> stop{FALSE};
    InternetRequest request(AnyBody(), &stop);
    std::thread raiser([&] {
        Sleep(300);
        stop = TRUE;
    });
    const DWORD start = GetTickCount();
    EXPECT_FALSE(request.Open(server.Url("/q"), std::wstring(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_LT(GetTickCount() - start, 2000u);
    raiser.join();
}

TEST_F(InternetRequestTest, ContentLengthIsParsedStrictly)
{
    struct Case
    {
        const char* route;
        bool ok;
        uint32_t length;
        DWORD error;
    } cases[] = {
        {R"({"path": "/c", "body": "abc"})", true, 3, 0},
        {R"({"path": "/c", "content_length": "12abc", "body": "abc", "close": true})", false, 0, 0},
        {R"({"path": "/c", "content_length": "", "body": "abc", "close": true})", false, 0, 0},
        {R"({"path": "/c", "content_length": 4294967296, "body": "abc", "close": true})", false, 0, 0},
        {R"({"path": "/c", "content_length": "omit", "body": "abc", "close": true})", false, 0,
         ERROR_HTTP_HEADER_NOT_FOUND},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Route(c.route));
        InternetRequest request(AnyBody());
        ASSERT_TRUE(request.Open(server.Url("/c"), std::wstring(), INTERNET_FLAG_RELOAD)) << c.route;
        uint32_t length = 99;
        EXPECT_EQ(QueryContentLength(request, length), c.ok) << c.route;
        EXPECT_EQ(length, c.length) << c.route;
        if (!c.ok) {
            EXPECT_EQ(GetLastError(), c.error) << c.route;
        }
    }
}

TEST_F(InternetRequestTest, UrlsThatNameNoServerFailBeforeAnyConnection)
{
    for (const wchar_t* url : {L"", L"http:///update/x", L"http://?mc=a&gc=b", L"ftp://127.0.0.1/x"}) {
        InternetRequest request(AnyBody());
        EXPECT_FALSE(request.Open(url, std::wstring(), 0));
        EXPECT_NE(GetLastError(), 0u);
    }
    EXPECT_TRUE(server.Requests().empty());
}

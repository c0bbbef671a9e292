// The request helper against servers that accept and then go quiet or
// trickle: every request ends by its deadline, or at once on a stop.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>
#include <thread>

#include "internet_request.h"
#include "test_http_server.h"

namespace {

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

TEST_F(InternetRequestTest, SilentAndTricklingServersEndAtTheDeadline)
{
    struct Case
    {
        const char* route;
        const char* what;
    } cases[] = {
        {R"({"path": "/q", "silent": true})", "never answers"},
        {R"({"path": "/q", "body_size": 1000, "trickle": 0.5, "trickle_head": true})", "trickles its head"},
        {R"({"path": "/q", "body_size": 1000, "trickle": 0.5})", "trickles its body"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Route(c.route));
        InternetRequest request(2000);
        std::string body;
        const DWORD start = GetTickCount();
        EXPECT_FALSE(Fetch(request, "/q", body)) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT)) << c.what;
        // Given up at the deadline, not when the server or a socket
        // time-out would have ended it (the server goes on for minutes).
        EXPECT_LT(GetTickCount() - start, 8000u) << c.what;
        EXPECT_LT(body.size(), 10u) << c.what;
        DWORD status = 0;
        EXPECT_FALSE(request.QueryStatus(status)) << c.what; // given up for good
    }
}

TEST_F(InternetRequestTest, SlowButSteadyAnswerWithinTheDeadlineArrivesWhole)
{
    ASSERT_TRUE(server.Route(R"({"path": "/s", "body_size": 12, "trickle": 0.05})"));
    InternetRequest request(20000);
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

TEST_F(InternetRequestTest, RaisedFlagEndsABlockedRequestAtOnce)
{
    ASSERT_TRUE(server.Route(R"({"path": "/q", "silent": true})"));
    std::atomic<BOOL> stop{FALSE};
    InternetRequest request(60000, &stop);
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
        InternetRequest request(10000);
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
        InternetRequest request(10000);
        EXPECT_FALSE(request.Open(url, std::wstring(), 0));
        EXPECT_NE(GetLastError(), 0u);
    }
    EXPECT_TRUE(server.Requests().empty());
}

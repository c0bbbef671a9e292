// The scriptable test server itself, so the tests that rely on it can.
#include <gtest/gtest.h>

#include "test_http_server.h"

class TestServer : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.Start(60)); }
    TestHttpServer server;
};

TEST_F(TestServer, SequenceOfAnswersPerPathThenTheLastRepeats)
{
    ASSERT_TRUE(server.Route(R"({"path": "/s", "responses": [{"status": 503}, {"body": "ok", "close": true}]})"));
    const std::string get = "GET /s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(server.RawExchange(get).substr(0, 12), "HTTP/1.1 503");
    for (int i = 0; i < 2; ++i) {
        const std::string answer = server.RawExchange(get);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 200");
        EXPECT_EQ(answer.substr(answer.size() - 2), "ok");
    }
    EXPECT_EQ(server.RawExchange("GET /other HTTP/1.0\r\n\r\n").substr(0, 12), "HTTP/1.1 404");
}

TEST_F(TestServer, ChunkedCutRangesAndRedirectFraming)
{
    ASSERT_TRUE(server.Route(R"({"path": "/c", "chunked": true, "body": "abcdefg", "chunk_size": 3, "close": true})"));
    ASSERT_TRUE(server.Route(R"({"path": "/cut", "body_size": 100, "cut_after": 10})"));
    ASSERT_TRUE(server.Route(R"({"path": "/r", "body_size": 100, "ranges": true, "close": true})"));
    ASSERT_TRUE(server.Route(R"({"path": "/m", "redirect": "/c", "last_modified": "Thu, 01 Jan 2026 00:00:00 GMT", "close": true})"));
    std::string a = server.RawExchange("GET /c HTTP/1.1\r\n\r\n");
    EXPECT_NE(a.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(a.find("Content-Length"), std::string::npos);
    EXPECT_EQ(a.substr(a.find("\r\n\r\n") + 4), "3\r\nabc\r\n3\r\ndef\r\n1\r\ng\r\n0\r\n\r\n");
    a = server.RawExchange("GET /cut HTTP/1.1\r\n\r\n");
    EXPECT_NE(a.find("Content-Length: 100\r\n"), std::string::npos);
    EXPECT_EQ(a.substr(a.find("\r\n\r\n") + 4), TestHttpServer::PatternBytes(10));
    a = server.RawExchange("GET /r HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n");
    EXPECT_EQ(a.substr(0, 12), "HTTP/1.1 206");
    EXPECT_NE(a.find("Content-Range: bytes 10-19/100\r\n"), std::string::npos);
    EXPECT_EQ(a.substr(a.find("\r\n\r\n") + 4), TestHttpServer::PatternBytes(20).substr(10));
    a = server.RawExchange("GET /m HTTP/1.1\r\n\r\n");
    EXPECT_EQ(a.substr(0, 12), "HTTP/1.1 302");
    EXPECT_NE(a.find("Location: " + server.Base() + "/c\r\n"), std::string::npos);
    EXPECT_NE(a.find("Last-Modified: Thu, 01 Jan 2026 00:00:00 GMT\r\n"), std::string::npos);
}

TEST_F(TestServer, RecordsPipelinedRequestsExactly)
{
    ASSERT_TRUE(server.Route(R"({"path": "*", "body": "x"})"));
    const std::string answer = server.RawExchange(
        "GET /a?x=<1>&y=a b HTTP/1.1\r\nHost: h\r\nRange: bytes=0-1\r\n\r\n"
        "POST /b HTTP/1.1\r\nContent-Length: 3\r\nConnection: close\r\n\r\nxyz");
    EXPECT_EQ(answer.find("HTTP/1.1 200"), 0u);
    EXPECT_NE(answer.find("HTTP/1.1 200", 1), std::string::npos);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "GET /a?x=<1>&y=a b HTTP/1.1");
    EXPECT_EQ(requests[0].target, "/a?x=<1>&y=a b");
    EXPECT_EQ(requests[0].Header("range"), "bytes=0-1");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].raw.substr(requests[1].raw.size() - 3), "xyz");
    EXPECT_TRUE(server.Reset());
    EXPECT_TRUE(server.Requests().empty());
}

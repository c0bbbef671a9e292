// What the self-update tests script on the update server and read back:
// the served answers, times as HTTP dates and file times, the log lines,
// and a loopback port where nothing answers.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "child_process.h"

const char kUpdatePath[] = "/update/tgupdate/tollgrove.exe";

// 2026-11-03 (a Tuesday), UTC.
inline SYSTEMTIME Utc(WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 11;
    t.wDayOfWeek = 2;
    t.wDay = 3;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

// Only for the day Utc() gives.
inline std::string HttpDate(const SYSTEMTIME& t)
{
    char text[64];
    std::snprintf(text, sizeof(text), "Tue, %02u Nov %u %02u:%02u:%02u GMT", t.wDay, t.wYear, t.wHour, t.wMinute,
        t.wSecond);
    return text;
}

inline uint64_t FileTimeOf(const SYSTEMTIME& t)
{
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

inline uint64_t LastWriteOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

inline bool SetLastWrite(const std::wstring& path, const SYSTEMTIME& utc)
{
    FILETIME f;
    SystemTimeToFileTime(&utc, &f);
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(h, nullptr, nullptr, &f);
    CloseHandle(h);
    return ok != FALSE;
}

inline std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// One scripted answer of the update URL.
struct Answer {
    int status = 200;
    std::string lastModified; // empty: no Last-Modified header
    std::string body;
    long long contentLength = -1; // -1: the body's length
    long long cutAfter = -1;      // -1: the whole body
    const char* contentLengthText = nullptr; // given: the Content-Length header's text, as is
    bool silent = false;           // the request is read and never answered
    long long rate = 0;            // bytes a second: the body at that rate (0: at once)
    long long stallAfter = -1;     // -1: the whole body; else that many bytes, then nothing
    double trickle = 0;            // seconds between body bytes (0: at once)
    bool trickleHead = false;      // with trickle: the head a byte at a time too

    std::string Json() const
    {
        std::string json = "{\"status\": " + std::to_string(status) + ", \"body_hex\": \"" + Hex(body) + "\"";
        if (!lastModified.empty())
            json += ", \"last_modified\": \"" + lastModified + "\"";
        if (contentLength >= 0)
            json += ", \"content_length\": " + std::to_string(contentLength);
        if (cutAfter >= 0)
            json += ", \"cut_after\": " + std::to_string(cutAfter);
        if (contentLengthText)
            json += std::string(", \"content_length\": \"") + contentLengthText + "\", \"close\": true";
        if (silent)
            json += ", \"silent\": true";
        if (rate > 0)
            json += ", \"rate\": " + std::to_string(rate);
        if (stallAfter >= 0)
            json += ", \"stall_after\": " + std::to_string(stallAfter);
        if (trickle > 0)
            json += ", \"trickle\": " + std::to_string(trickle);
        if (trickleHead)
            json += ", \"trickle_head\": true";
        return json + "}";
    }
};

// The route of the update URL: the answers in order, the last one repeating.
inline std::string UpdateRoute(const std::vector<Answer>& answers)
{
    std::string json = std::string("{\"path\": \"") + kUpdatePath + "\", \"responses\": [";
    for (size_t i = 0; i < answers.size(); ++i)
        json += (i ? ", " : "") + answers[i].Json();
    return json + "]}";
}

// The lines of the update log in folder\logs, their time stamps cut off.
inline std::vector<std::string> UpdateLogLines(const std::wstring& folder)
{
    std::vector<std::string> lines;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\logs\\update*.txt").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return lines;
    do {
        std::string text = ReadWholeFile(folder + L"\\logs\\" + entry.cFileName);
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find("\r\n", start);
            std::string line = text.substr(start, end - start);
            size_t blank = line.find(' ');
            lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
            start = end == std::string::npos ? text.size() : end + 2;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return lines;
}

// A loopback port that refuses every connection: bound, never listening,
// so no other program can take it while the object lives.
class RefusingPort {
public:
    RefusingPort()
    {
        WSADATA wsa;
        m_started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (m_socket != INVALID_SOCKET &&
            bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~RefusingPort()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        if (m_started)
            WSACleanup();
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    uint16_t Port() const { return m_port; }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    uint16_t m_port = 0;
};

// Starting test programs as the system starts them, and small file helpers
// for the tests that look at what those programs left behind.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A started process; the handle is closed when the owner goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess()
    {
        if (m_process)
            CloseHandle(m_process);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // commandLine as CreateProcessW takes it; folder becomes the child's
    // current directory. flags: CREATE_NO_WINDOW for console programs.
    bool Start(const std::wstring& commandLine, const std::wstring& folder, DWORD flags = CREATE_NO_WINDOW)
    {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, folder.c_str(), &startup,
                &info))
            return false;
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        m_id = info.dwProcessId;
        return true;
    }

    // The exit code, or STILL_ACTIVE when the process did not end in time
    // (it is then terminated, so no test leaves a process behind).
    DWORD Wait(DWORD timeoutMs)
    {
        if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(m_process, 99);
            WaitForSingleObject(m_process, 5000);
            return STILL_ACTIVE;
        }
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return code;
    }

    bool Running() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    HANDLE Handle() const { return m_process; }
    DWORD Id() const { return m_id; }

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadWholeFile(const std::wstring& path)
{
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got)
        out.append(buffer, got);
    CloseHandle(h);
    return out;
}

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

// Polls until the file exists or the time is up (for effects of processes
// the test did not start itself).
inline bool WaitForFile(const std::wstring& path, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (FileExists(path))
            return true;
        Sleep(50);
    }
    return FileExists(path);
}

// Owners of the kernel and WinINet handles this folder opens. Any thread.
#pragma once
#include <windows.h>
#include <wininet.h>

// A kernel object handle (INVALID_HANDLE_VALUE or null when empty).
class FileHandle
{
public:
    explicit FileHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    void Close()
    {
        if (IsValid())
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

class InternetHandle
{
public:
    explicit InternetHandle(HINTERNET h = nullptr) : m_h(h) {}
    ~InternetHandle() { Close(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    bool IsValid() const { return m_h != nullptr; }
    HINTERNET Get() const { return m_h; }
    void Close()
    {
        if (m_h)
            InternetCloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HINTERNET m_h;
};

class LibraryHandle
{
public:
    explicit LibraryHandle(HMODULE h) : m_h(h) {}
    ~LibraryHandle()
    {
        if (m_h)
            FreeLibrary(m_h);
    }
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;
    HMODULE Get() const { return m_h; }

private:
    HMODULE m_h;
};

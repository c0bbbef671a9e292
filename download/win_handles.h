// The owners of every handle the program opens: kernel objects, processes,
// searches, modules, WinINet handles, global memory and C runtime files
// here; COM in win_com.h and GDI in win_gdi.h, both included. Each owner
// holds one handle (a process: CreateProcessW's answer), frees it on every
// path and is move-only; scopes (a lock, an apartment) do not move. Any
// thread, one at a time.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <cstdio>

#include "win_handle_owner.h"

namespace win_handles {

struct KernelTraits
{
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    // CreateFileW fails with INVALID_HANDLE_VALUE, most other calls with null.
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindTraits
{
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};

struct InternetTraits
{
    using Handle = HINTERNET;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::InternetCloseHandle(h); }
};

struct LibraryTraits
{
    using Handle = HMODULE;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

struct GlobalMemoryTraits
{
    using Handle = HGLOBAL;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::GlobalFree(h); }
};

struct CrtFileTraits
{
    using Handle = FILE*;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { std::fclose(h); }
};

} // namespace win_handles

// A kernel object: file, event, mutex, thread (CloseHandle).
using FileHandle = HandleOwner<win_handles::KernelTraits>;
using KernelHandle = FileHandle;
// A FindFirstFileW search (FindClose).
using FindHandle = HandleOwner<win_handles::FindTraits>;
// A WinINet session, connection or request (InternetCloseHandle).
using InternetHandle = HandleOwner<win_handles::InternetTraits>;
// A loaded module (FreeLibrary).
using LibraryHandle = HandleOwner<win_handles::LibraryTraits>;
// A global memory block (GlobalFree), until Detach hands it to a stream
// that frees it itself.
using GlobalMemory = HandleOwner<win_handles::GlobalMemoryTraits>;
// A file of the C runtime (fclose).
using CrtFile = HandleOwner<win_handles::CrtFileTraits>;

// A started process: CreateProcessW's answer, whose process and thread
// handles are both closed.
class ProcessHandles
{
public:
    ProcessHandles() = default;
    ~ProcessHandles() { Close(); }
    ProcessHandles(const ProcessHandles&) = delete;
    ProcessHandles& operator=(const ProcessHandles&) = delete;
    ProcessHandles(ProcessHandles&& other) noexcept : m_pi(other.m_pi) { other.m_pi = {}; }
    ProcessHandles& operator=(ProcessHandles&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_pi = other.m_pi;
            other.m_pi = {};
        }
        return *this;
    }

    // For CreateProcessW to fill; what was held is closed first.
    PROCESS_INFORMATION* Receive()
    {
        Close();
        return &m_pi;
    }
    const PROCESS_INFORMATION& Get() const { return m_pi; }
    void Close()
    {
        if (m_pi.hThread)
            ::CloseHandle(m_pi.hThread);
        if (m_pi.hProcess)
            ::CloseHandle(m_pi.hProcess);
        m_pi = {};
    }

private:
    PROCESS_INFORMATION m_pi = {};
};

// GlobalLock for one scope, GlobalUnlock at its end when the lock was
// taken. The block stays its owner's.
class GlobalMemoryLock
{
public:
    explicit GlobalMemoryLock(HGLOBAL block) : m_block(block), m_p(block ? ::GlobalLock(block) : nullptr) {}
    ~GlobalMemoryLock()
    {
        if (m_p)
            ::GlobalUnlock(m_block);
    }
    GlobalMemoryLock(const GlobalMemoryLock&) = delete;
    GlobalMemoryLock& operator=(const GlobalMemoryLock&) = delete;

    void* Get() const { return m_p; } // null when the block could not be locked

private:
    HGLOBAL m_block;
    void* m_p;
};

#include "win_com.h"
#include "win_gdi.h"

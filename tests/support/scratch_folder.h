// A fresh folder for one test under the build folder, reached through
// Wine's Z: drive, removed with everything in it at the end.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "host_path.h"

class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name)
        : m_path(HostPath(TG_BINARY_DIR) + L"\\scratch\\" + name + L"-" + std::to_wstring(GetCurrentProcessId()))
    {
        CreateDirectoryW((HostPath(TG_BINARY_DIR) + L"\\scratch").c_str(), nullptr);
        Remove(m_path);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    // A program a test started may still be ending and hold its file.
    ~ScratchFolder()
    {
        for (int i = 0; i < 100 && GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
            if (i)
                Sleep(50);
            Remove(m_path);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

    static void Remove(const std::wstring& path)
    {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                std::wstring child = path + L"\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    Remove(child);
                } else {
                    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }

private:
    std::wstring m_path;
};

// The running test's name as a folder name ("Case/Param" becomes "Case-Param").
inline std::wstring CurrentTestFolderName(const std::wstring& prefix)
{
    std::wstring name = prefix;
    for (const char* p = ::testing::UnitTest::GetInstance()->current_test_info()->name(); *p; ++p)
        name += (*p == '/') ? L'-' : static_cast<wchar_t>(*p);
    return name;
}

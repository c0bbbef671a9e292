// A fresh folder for one Win32 test, named by wide paths as the Win32 API
// takes them, removed with everything in it at the end.
//
// Built on the portable temp_dir, which gives the name and makes the
// folder; what the Win32 side adds is the removal: read-only files are made
// writable first (DeleteFileW refuses them), and a program the test started
// may still be ending and hold a file open, so removal is tried again for a
// bounded time.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "host_path.h"
#include "temp_dir.hpp"

class ScratchFolder
{
public:
    // Under the prefix's temporary folder.
    explicit ScratchFolder(const std::string& tag = "scratch")
        : ScratchFolder(std::filesystem::temp_directory_path().wstring(), tag)
    {
    }
    // Under base (made if missing): the build folder over Z:, a drive's root.
    ScratchFolder(const std::wstring& base, const std::string& tag) : m_dir(base, tag), m_path(m_dir.path().wstring())
    {
    }
    ~ScratchFolder()
    {
        for (int i = 0; i < kRemoveTries && GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
            if (i)
                Sleep(50);
            std::error_code ec;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec))
                SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
            std::filesystem::remove_all(m_path, ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

private:
    static constexpr int kRemoveTries = 100; // 5 s in all

    tg::test::temp_dir m_dir;
    std::wstring m_path;
};

// The build folder's own scratch folder, over Z:, where the self-update's
// tests run the programs they start.
inline std::wstring BuildScratchBase()
{
    return HostPath(TG_BINARY_DIR) + L"\\scratch";
}

// The running test's name as a folder name ("Case/Param" becomes "Case-Param").
inline std::string CurrentTestFolderName(const std::string& prefix)
{
    std::string name = prefix;
    for (const char* p = ::testing::UnitTest::GetInstance()->current_test_info()->name(); *p; ++p)
        name += (*p == '/') ? '-' : *p;
    return name;
}

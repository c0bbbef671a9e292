// Scratch folders and file helpers for the Windows tests of download/.
#pragma once
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

// A fresh folder under the prefix's temp folder, removed with everything
// in it when the test ends.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        m_path = std::wstring(temp) + L"tgdl-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount());
        std::filesystem::create_directories(m_path);
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        for (auto& e : std::filesystem::recursive_directory_iterator(m_path, ec))
            SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(m_path, ec);
    }
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadAll(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// An INI file as the profile API reads Vietnamese text: UTF-16LE with BOM.
inline void WriteUtf16Ini(const std::wstring& path, const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    WriteAll(path, bytes);
}

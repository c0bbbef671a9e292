// The "\\?\" form of the disk I/O's paths, built without the system (whose
// own normalising turns "nul" or "aux.dat" into devices).
#include "engine/extended_path.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tg {
namespace {

struct path_case
{
    wchar_t const* path;
    wchar_t const* current_dir;
    wchar_t const* expected;
};

TEST(ExtendedPath, EveryFormBecomesAnAbsoluteCleanPath)
{
    path_case const cases[] = {
        // Device names stay names: nothing here knows them.
        {L"C:\\Games\\x\\nul", L"D:\\", L"\\\\?\\C:\\Games\\x\\nul"},
        {L"C:/Games/x/aux.dat", L"D:\\", L"\\\\?\\C:\\Games\\x\\aux.dat"},
        {L"C:\\Games\\con\\com1.log", L"D:\\", L"\\\\?\\C:\\Games\\con\\com1.log"},
        // Separators, empty parts, "." and "..", never above the root.
        {L"C:\\a\\\\b/./c\\..\\d", L"D:\\", L"\\\\?\\C:\\a\\b\\d"},
        {L"C:\\..\\..\\a", L"D:\\", L"\\\\?\\C:\\a"},
        {L"C:\\", L"D:\\", L"\\\\?\\C:\\"},
        {L"C:", L"D:\\", L"\\\\?\\C:\\"},
        {L"C:\\a\\..", L"D:\\", L"\\\\?\\C:\\"},
        // Trimmed as plain paths are: a segment's one final period, the last
        // segment's trailing periods and spaces; "..." is a name.
        {L"C:\\dir.\\file. . ", L"D:\\", L"\\\\?\\C:\\dir\\file"},
        {L"C:\\...\\x", L"D:\\", L"\\\\?\\C:\\...\\x"},
        // Relative forms.
        {L"game\\nul", L"C:\\Install", L"\\\\?\\C:\\Install\\game\\nul"},
        {L"..\\game", L"C:\\Install\\sub", L"\\\\?\\C:\\Install\\game"},
        {L"\\game", L"C:\\Install", L"\\\\?\\C:\\game"},
        {L"c:game", L"C:\\Install", L"\\\\?\\C:\\Install\\game"},
        {L"E:game", L"C:\\Install", L"\\\\?\\E:\\game"},
        {L"game", L"\\\\?\\C:\\Install", L"\\\\?\\C:\\Install\\game"},
        // Shares.
        {L"\\\\server\\share\\a\\..\\prn", L"C:\\", L"\\\\?\\UNC\\server\\share\\prn"},
        {L"//server/share", L"C:\\", L"\\\\?\\UNC\\server\\share\\"},
        {L"game", L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\dir\\game"},
        {L"\\game", L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\game"},
        {L"game", L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share\\game"},
        // Already in a literal form: kept.
        {L"\\\\?\\C:\\a\\..\\b", L"D:\\", L"\\\\?\\C:\\a\\..\\b"},
        {L"\\\\.\\PhysicalDrive0", L"D:\\", L"\\\\.\\PhysicalDrive0"},
        // No usable current folder: left for the system to refuse.
        {L"game", L"", L"game"},
    };
    for (auto const& c : cases) {
        std::wstring const got = extended_path(c.path, c.current_dir);
        EXPECT_EQ(got, std::wstring(c.expected))
            << std::string(got.begin(), got.end()) << " for "
            << std::string(c.path, c.path + std::wstring(c.path).size());
    }
}

} // namespace
} // namespace tg

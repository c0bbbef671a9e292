#include <gtest/gtest.h>

#include <string>

#include "vietnamese_fold.h"

TEST(VietnameseFold, FoldsPrecomposedLettersOnly)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"Tiếng Việt", L"Tieng Viet"},
        {L"Đà Nẵng", L"Da Nang"},
        {L"Hello, World 123!", L"Hello, World 123!"},
        {L"Ç ß Ñ Ö", L"Ç ß Ñ Ö"},
        // A combining mark after a plain letter stays where it is.
        {L"e\u0301", L"e\u0301"},
        {L"ƠƯơư Ỹỹ", L"OUou Yy"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        const std::wstring out = StripVietnameseMarks(c.first);
        EXPECT_EQ(out, c.second);
        EXPECT_EQ(out.size(), c.first.size());
    }
}

TEST(VietnameseFold, TableHoldsExactly134LettersWithTheirCase)
{
    const std::u16string capitals = u"AEIOUYD";
    const std::u16string smalls = u"aeiouyd";
    int folded = 0;
    for (uint32_t c = 0xC0; c <= 0xFFFF; ++c) {
        const char16_t base = BaseLetterOf(static_cast<char16_t>(c));
        if (base == c)
            continue;
        ++folded;
        const bool capital = capitals.find(base) != std::u16string::npos;
        const bool small = smalls.find(base) != std::u16string::npos;
        ASSERT_TRUE(capital || small) << std::hex << c;
        if (c >= 0x1EA0) {
            EXPECT_EQ(capital, c % 2 == 0) << std::hex << c;
        }
    }
    EXPECT_EQ(folded, 134);
    // Both ends of the Vietnamese block and a few of the lower range.
    EXPECT_EQ(BaseLetterOf(0x1EA0), u'A');
    EXPECT_EQ(BaseLetterOf(0x1EF9), u'y');
    EXPECT_EQ(BaseLetterOf(0x01B0), u'u');
    EXPECT_EQ(BaseLetterOf(0x0111), u'd');
    EXPECT_EQ(BaseLetterOf(0x00C4), 0x00C4); // Ä is not Vietnamese
    EXPECT_EQ(BaseLetterOf(0x1EFA), 0x1EFA);
}

// The self-update's request texts and its check of a downloaded body.
#include <gtest/gtest.h>

#include <string>

#include "update_request.h"

TEST(UpdateRequest, UrlAndHostHeaderComeFromTheHost)
{
    EXPECT_EQ(UpdateUrl(L"update.example:8080"), L"http://update.example:8080/update/tgupdate/tollgrove.exe");
    EXPECT_EQ(UpdateRequestHeader(L"127.0.0.1:5000"), L"Host: 127.0.0.1:5000\r\n");
    EXPECT_EQ(UpdateRequestHeader(L""), L""); // no header at all without a host
}

TEST(UpdateRequest, ReplacerArgumentsQuoteOnlyNamesThatWouldSplit)
{
    struct Case {
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* arguments;
    } cases[] = {
        {L"updatetollgrove\\", L"tollgrove.exe", L" updatetollgrove\\tollgrove.exe"},
        {L"updatetollgrove", L"tollgrove.exe", L" updatetollgrove\\tollgrove.exe"},
        {L"updatetollgrove\\", L"tollgrove (1).exe", L" \"updatetollgrove\\tollgrove (1).exe\""},
        {L"updatetollgrove\\", L"a\tb.exe", L" \"updatetollgrove\\a\tb.exe\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplacerArguments(c.folder, c.name), c.arguments) << c.name;
}

TEST(UpdateRequest, OnlyAProgramImageMayReplaceTheProgram)
{
    const unsigned char program[] = {'M', 'Z', 0x90, 0};
    const unsigned char page[] = "<html>";
    EXPECT_TRUE(LooksLikeProgramImage(program, sizeof(program)));
    EXPECT_TRUE(LooksLikeProgramImage(program, 2));
    EXPECT_FALSE(LooksLikeProgramImage(program, 1));
    EXPECT_FALSE(LooksLikeProgramImage(program, 0));
    EXPECT_FALSE(LooksLikeProgramImage(page, sizeof(page) - 1));
}

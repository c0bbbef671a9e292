// The replacer's command-line splitting, natively and under Wine: the C
// runtime's rules for argv, as a table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& line)
{
    std::vector<std::wstring> arguments;
    std::vector<wchar_t> out(line.size() + 1);
    const wchar_t* cursor = replacer::SkipProgramName(line.c_str());
    while (replacer::NextArgument(cursor, out.data()))
        arguments.emplace_back(out.data());
    return arguments;
}

} // namespace

TEST(ReplacerCommandLine, SplitsByTheRuntimeRules)
{
    const struct {
        const char* name;
        std::wstring line;
        std::vector<std::wstring> arguments;
    } cases[] = {
        {"no argument", L"updatetollgrove\\engine.dat", {}},
        {"only blanks behind the name", L"engine.dat \t ", {}},
        {"one plain", L"updatetollgrove\\engine.dat updatetollgrove\\tollgrove.exe", {L"updatetollgrove\\tollgrove.exe"}},
        {"blanks and tabs separate", L"e.dat  a\tb \t c", {L"a", L"b", L"c"}},
        {"a blank unquoted splits", L"e.dat updatetollgrove\\my game.exe", {L"updatetollgrove\\my", L"game.exe"}},
        {"quotes group", L"e.dat \"updatetollgrove\\tollgrove - B\u1ea3n sao.exe\"",
            {L"updatetollgrove\\tollgrove - B\u1ea3n sao.exe"}},
        {"quotes inside an argument", L"e.dat a\"b c\"d e", {L"ab cd", L"e"}},
        {"an unclosed quote runs to the end", L"e.dat \"a b", {L"a b"}},
        {"an empty quoted argument", L"e.dat \"\" x", {L"", L"x"}},
        {"two quotes inside quotes are one", L"e.dat \"a\"\"b\" c", {L"a\"b", L"c"}},
        {"backslashes without a quote stay", L"e.dat a\\\\b\\ c\\", {L"a\\\\b\\", L"c\\"}},
        {"2n backslashes and a quote: n and grouping", L"e.dat a\\\\\"b c\"", {L"a\\b c"}},
        {"2n+1 backslashes and a quote: n and a quote", L"e.dat a\\\\\\\"b c", {L"a\\\"b", L"c"}},
        {"an escaped quote alone", L"e.dat \\\" x", {L"\"", L"x"}},
        {"a quoted folder ending in a backslash", L"e.dat \"C:\\a b\\\\\" x", {L"C:\\a b\\", L"x"}},
        // The program's own name: quotes only group it, backslashes are literal.
        {"a quoted program name with a blank", L"\"my folder\\engine.dat\" a", {L"a"}},
        {"a program name with a backslash before its quote", L"\"dir\\\" a b", {L"a", L"b"}},
        {"an unclosed quote in the program name", L"\"engine.dat a b", {}},
        {"empty line", L"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Split(c.line), c.arguments) << c.name;
}

// Command lines split by the rules of the Windows shell, which both backends
// use to start programs.
#include <gtest/gtest.h>

#include "platform/process.h"

namespace {

using Args = std::vector<std::wstring>;

struct SplitCase {
    const char* name;
    const wchar_t* line;
    Args expected;
};

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, MatchesTheShellsRules) {
    EXPECT_EQ(platform::splitCommandLine(GetParam().line), GetParam().expected) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLine,
    ::testing::Values(
        // What runProcess builds: name, one blank, the arguments; an empty argument text leaves a blank.
        SplitCase{"RunProcessWithoutArguments", L"orvane_updater.exe ", {L"orvane_updater.exe"}},
        SplitCase{"QuotedUserDataDirWindows", L"Orvane.exe --user-data-dir=\"C:\\Users\\a b\\KestoOrvane\\UserData_1\"",
                  {L"Orvane.exe", L"--user-data-dir=C:\\Users\\a b\\KestoOrvane\\UserData_1"}},
        SplitCase{"QuotedUserDataDirLinux", L"Orvane --user-data-dir=\"/home/a b/KestoOrvane/UserData_12\"",
                  {L"Orvane", L"--user-data-dir=/home/a b/KestoOrvane/UserData_12"}},
        // The program name: quoted up to the next quote, no escapes, blanks kept.
        SplitCase{"QuotedProgramPath", L"\"C:\\Program Files\\Orvane\\orvane_launcher.exe\" ignoreSSLError",
                  {L"C:\\Program Files\\Orvane\\orvane_launcher.exe", L"ignoreSSLError"}},
        SplitCase{"ProgramNameHasNoEscapes", L"\"C:\\dir\\\" next", {L"C:\\dir\\", L"next"}},
        SplitCase{"ProgramNameEndsAtItsQuote", L"\"quoted\"glued rest", {L"quoted", L"glued", L"rest"}},
        // Blanks and tabs separate; runs of them count once.
        SplitCase{"BlanksAndTabs", L"p  a\t\tb   ", {L"p", L"a", L"b"}},
        SplitCase{"QuotedArgument", L"p \"a b\" c", {L"p", L"a b", L"c"}},
        SplitCase{"EmptyArgument", L"p \"\" x", {L"p", L"", L"x"}},
        SplitCase{"QuotesInsideAnArgument", L"p a\"b c\"d", {L"p", L"ab cd"}},
        // Backslashes are literal unless a quote follows them.
        SplitCase{"BackslashesAlone", L"p a\\\\b c\\", {L"p", L"a\\\\b", L"c\\"}},
        SplitCase{"EscapedQuote", L"p a\\\"b", {L"p", L"a\"b"}},
        SplitCase{"EvenBackslashesBeforeAQuote", L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
        SplitCase{"OddBackslashesBeforeAQuote", L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
        // Quotes counted in threes: inside a quoted run "" is a quote and ends the run.
        SplitCase{"DoubledQuoteInQuotes", L"p \"a\"\"b\"", {L"p", L"a\"b"}},
        SplitCase{"DoubledQuoteEndsTheRun", L"p \"a\"\"b c\"", {L"p", L"a\"b", L"c"}},
        SplitCase{"TripledQuotes", L"p \"\"\"a\"\"\"", {L"p", L"\"a\""}},
        SplitCase{"UnclosedQuote", L"p \"open to the end", {L"p", L"open to the end"}}),
    [](const ::testing::TestParamInfo<SplitCase>& p) { return std::string(p.param.name); });

}  // namespace

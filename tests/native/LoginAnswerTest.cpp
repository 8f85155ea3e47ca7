#include "workflow/LoginAnswer.h"
#include "workflow/RequestUrl.h"

#include <gtest/gtest.h>

#include "services/Text.h"

using namespace qorv;

using qorv::DecideLaunch;
using qorv::LaunchDecision;
using qorv::LoginUrl;

namespace {

const std::wstring kDir = L"C:\\Users\\John Smith\\AppData\\Local\\tovrine\\qorv\\";
const std::wstring kShell = L"\"" + kDir + L"Qorv.exe\" pelmar";

std::wstring Latin1(const char* bytes) {
    std::wstring wide;
    for (; *bytes; ++bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(*bytes));
    return wide;
}

LaunchDecision Decide(const std::string& answer) {
    return DecideLaunch(answer, kDir, L"pelmar", Latin1);
}

std::wstring Client(const std::wstring& query) {
    return L"\"" + kDir + L"GameClient\\kel_qorvmicro.exe\" 0 " + query + L"&client=pc";
}

TEST(DecideLaunch, ErrnoZeroStartsTheQuotedGameClientWithTheQueryString) {
    const LaunchDecision launch = Decide(R"({"errno":0,"query_string":"a=1&b=2"})");
    EXPECT_TRUE(launch.gameClient);
    EXPECT_EQ(launch.commandLine, Client(L"a=1&b=2"));
}

TEST(DecideLaunch, NonZeroIntegerViewsStartTheShellProgram) {
    for (const char* errorNumber : {"1", "-1", "true", "1e12", "-1e12"}) {
        const LaunchDecision launch =
            Decide(std::string(R"({"errno":)") + errorNumber + "}");  // no query_string needed
        EXPECT_FALSE(launch.gameClient) << errorNumber;
        EXPECT_EQ(launch.commandLine, kShell) << errorNumber;
    }
}

TEST(DecideLaunch, ZeroIntegerViewsTakeTheGameClientBranch) {
    for (const char* errorNumber : {"0.9", "false", "null", R"("7")", "[]", "{}", "-0.5"}) {
        const LaunchDecision launch =
            Decide(std::string(R"({"errno":)") + errorNumber + R"(,"query_string":"q"})");
        EXPECT_TRUE(launch.gameClient) << errorNumber;
        EXPECT_EQ(launch.commandLine, Client(L"q")) << errorNumber;
    }
}

TEST(DecideLaunch, MemberNamesMatchWithoutCaseAndTheFirstMatchWins) {
    EXPECT_TRUE(Decide(R"({"ERRNO":0,"Query_String":"x"})").gameClient);
    EXPECT_FALSE(Decide(R"({"errno":2,"Errno":0,"query_string":"x"})").gameClient);
}

TEST(DecideLaunch, TextAfterTheFirstValueIsIgnored) {
    EXPECT_EQ(Decide(R"({"errno":0,"query_string":"k"} trailing {garbage)").commandLine,
              Client(L"k"));
    // So is anything after a zero byte.
    EXPECT_EQ(Decide(std::string(R"({"errno":0,"query_string":"k"})") + '\0' + "x").commandLine,
              Client(L"k"));
}

TEST(DecideLaunch, AnyOtherAnswerStartsTheShellProgram) {
    for (const char* answer :
         {"", "not json", "[0]", "0", R"("errno")", R"({"errno":)", R"({"query_string":"a"})",
          R"({"errno":0})", R"({"errno":0,"query_string":5})",
          R"({"errno":0,"query_string":null})"}) {
        const LaunchDecision launch = Decide(answer);
        EXPECT_FALSE(launch.gameClient) << answer;
        EXPECT_EQ(launch.commandLine, kShell) << answer;
    }
}

TEST(DecideLaunch, QueryStringBytesGoThroughTheCodePageConversion) {
    EXPECT_EQ(Decide("{\"errno\":0,\"query_string\":\"n=\xe9\"}").commandLine, Client(L"n=\u00e9"));
}

TEST(DecideLaunch, CommandLineIsKeptWholeUpToTheSystemLimit) {
    const size_t fixed = Client(L"").size();
    const std::string fits(32766 - fixed, 'q');
    const LaunchDecision whole = Decide(R"({"errno":0,"query_string":")" + fits + R"("})");
    EXPECT_TRUE(whole.gameClient);
    EXPECT_EQ(whole.commandLine.size(), 32766u);
    const LaunchDecision over = Decide(R"({"errno":0,"query_string":")" + fits + R"(q"})");
    EXPECT_FALSE(over.gameClient);
    EXPECT_EQ(over.commandLine, kShell);
}

TEST(PackageUrl, AppendsPathAndSignedTickCount) {
    EXPECT_EQ(qorv::PackageUrl(L"http://h/rc", L"/pkg/shell.zip", 1234),
              L"http://h/rc/pkg/shell.zip?skq=1234");
    EXPECT_EQ(qorv::PackageUrl(L"http://h/rc", L"/pkg/pkg.ver", 0x80000000u),
              L"http://h/rc/pkg/pkg.ver?skq=-2147483648");
    EXPECT_EQ(qorv::PackageUrl(L"http://h/rc", L"/pkg/GameClient.zip", 0xFFFFFFFFu),
              L"http://h/rc/pkg/GameClient.zip?skq=-1");
    // Without a base URL the path stays relative.
    EXPECT_EQ(qorv::PackageUrl(L"", L"/pkg/shell.zip", 7), L"/pkg/shell.zip?skq=7");
}

TEST(LoginUrl, PlainTokensStayAsTheyAre) {
    // The trace's copy never carries the token.
    EXPECT_EQ(qorv::TracedLoginUrl(L"http://127.0.0.1:8080/", L"pelmar"),
              L"http://127.0.0.1:8080/qv/redirect_login_token?token=***&platform=pelmar");
    EXPECT_EQ(LoginUrl(L"http://127.0.0.1:8080/", L"TOKEN42", L"pelmar"),
              L"http://127.0.0.1:8080/qv/redirect_login_token?token=TOKEN42&platform=pelmar");
    EXPECT_EQ(LoginUrl(L"http://a/", L"A-z_0.9~", L"p"),
              L"http://a/qv/redirect_login_token?token=A-z_0.9~&platform=p");
}

TEST(LoginUrl, OtherBytesArePercentEncodedFromUtf8) {
    EXPECT_EQ(LoginUrl(L"http://a/", L"a&b#c d", L"p/q"),
              L"http://a/qv/redirect_login_token?token=a%26b%23c%20d&platform=p%2Fq");
    EXPECT_EQ(LoginUrl(L"http://a/", std::wstring(1, wchar_t(0x4E2D)), L"p"),
              L"http://a/qv/redirect_login_token?token=%E4%B8%AD&platform=p");
}

}  // namespace

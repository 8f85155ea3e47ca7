#include "services/UninstallEntry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallNames.h"
#include "services/FileSystem.h"

using namespace qorv;

namespace {

struct StringValue {
    LSTATUS status = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    std::wstring text;
};

StringValue ReadValue(const wchar_t* name) {
    StringValue value;
    HKEY key = nullptr;
    value.status = RegOpenKeyExW(HKEY_CURRENT_USER, qorv::kUninstallKey, 0, KEY_READ, &key);
    if (value.status != ERROR_SUCCESS) return value;
    wchar_t data[1024] = {};
    value.bytes = sizeof(data) - sizeof(wchar_t);  // the last unit stays a terminator
    value.status = RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data),
                                    &value.bytes);
    RegCloseKey(key);
    value.text = data;
    return value;
}

// Checks one value's type, data and that its size counts the terminator.
void ExpectString(const wchar_t* name, const std::wstring& expected) {
    const StringValue value = ReadValue(name);
    ASSERT_EQ(value.status, ERROR_SUCCESS) << name;
    EXPECT_EQ(value.type, DWORD(REG_SZ)) << name;
    EXPECT_EQ(value.text, expected) << name;
    EXPECT_EQ(value.bytes, (expected.size() + 1) * sizeof(wchar_t)) << name;
}

// Runs a console program and returns what it wrote to standard output.
std::string RunAndCapture(std::wstring commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return std::string();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);  // our copy: the pipe ends when the child exits
    std::string output;
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
            output.append(chunk, got);
        }
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return output;
}

class UninstallEntryTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, qorv::kUninstallKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, qorv::kUninstallKey); }
};

TEST_F(UninstallEntryTest, WritesTheFiveStringValues) {
    WriteUninstallEntry(L"C:\\Games\\tovrine\\qorv\\Qorv.exe", L"C:\\Games\\tovrine\\qorv\\");
    ExpectString(qorv::kValueDisplayIcon, L"C:\\Games\\tovrine\\qorv\\Qorv.exe");
    ExpectString(qorv::kValueDisplayName, L"Orvanta");
    ExpectString(qorv::kValuePublisher, L"Velmora");
    // A trailing backslash on the directory gives exactly one separator.
    ExpectString(qorv::kValueUninstallString, L"\"C:\\Games\\tovrine\\qorv\\Uninstall.exe\"");
    ExpectString(qorv::kValueDisplayVersion, L"1.0.0.9");
}

TEST_F(UninstallEntryTest, SecondCallOverwritesAndKeepsOtherValues) {
    WriteUninstallEntry(L"C:\\First\\Qorv.exe", L"C:\\First\\");
    const wchar_t added[] = L"kept";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, qorv::kUninstallKey, L"InstallLocation", REG_SZ,
                              added, sizeof(added)),
              ERROR_SUCCESS);
    WriteUninstallEntry(L"D:\\Second\\Qorv.exe", L"D:\\Second");
    ExpectString(qorv::kValueDisplayIcon, L"D:\\Second\\Qorv.exe");
    ExpectString(qorv::kValueUninstallString, L"\"D:\\Second\\Uninstall.exe\"");
    ExpectString(qorv::kValueDisplayVersion, L"1.0.0.9");
    ExpectString(L"InstallLocation", L"kept");
}

TEST_F(UninstallEntryTest, DirectoryTooLongToJoinSkipsOnlyTheUninstallString) {
    const std::wstring directory = L"C:\\" + std::wstring(qorv::kMaxPathChars, L'd');
    WriteUninstallEntry(directory + L"\\Qorv.exe", directory);
    EXPECT_EQ(ReadValue(qorv::kValueUninstallString).status, ERROR_FILE_NOT_FOUND);
    ExpectString(qorv::kValueDisplayVersion, L"1.0.0.9");
}

TEST_F(UninstallEntryTest, DirectoryPastMaxPathIsWrittenInItsPlainForm) {
    const std::wstring directory = L"C:\\" + std::wstring(MAX_PATH, L'd');
    WriteUninstallEntry(directory + L"\\Qorv.exe", directory);
    ExpectString(qorv::kValueUninstallString, L"\"" + directory + L"\\Uninstall.exe\"");
}

TEST_F(UninstallEntryTest, RegQueryListsTheValues) {
    WriteUninstallEntry(L"C:\\Games\\qorv\\Qorv.exe", L"C:\\Games\\qorv");
    const std::string listing = RunAndCapture(
        L"reg.exe query \"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        L"QorvInstall\"");
    const char* expected[] = {
        "    DisplayIcon    REG_SZ    C:\\Games\\qorv\\Qorv.exe\r\n",
        "    DisplayName    REG_SZ    Orvanta\r\n",
        "    Publisher    REG_SZ    Velmora\r\n",
        "    UninstallString    REG_SZ    \"C:\\Games\\qorv\\Uninstall.exe\"\r\n",
        "    DisplayVersion    REG_SZ    1.0.0.9\r\n",
    };
    for (const char* line : expected) {
        EXPECT_NE(listing.find(line), std::string::npos) << line << "in:\n" << listing;
    }
}

// Runs only where the ANSI code page is 1252, which lacks the CJK characters.
class UninstallEntryCp1252Test : public UninstallEntryTest {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 1252u) << "Wine takes the ANSI code page from the locale: set LC_ALL";
        UninstallEntryTest::SetUp();
    }
};

TEST_F(UninstallEntryCp1252Test, PathsOutsideTheCodePageReadBackExactly) {
    // "C:\Users\<Zhang San>\AppData\Local\tovrine\qorv\"
    const std::wstring directory = L"C:\\Users\\\x5F20\x4E09\\AppData\\Local\\tovrine\\qorv\\";
    WriteUninstallEntry(directory + L"Qorv.exe", directory);
    ExpectString(qorv::kValueDisplayIcon, directory + L"Qorv.exe");
    ExpectString(qorv::kValueUninstallString, L"\"" + directory + L"Uninstall.exe\"");
}

}  // namespace

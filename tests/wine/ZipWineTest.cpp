// Runs qorv-unzip.exe the way a deployer would and checks what it wrote
// with the Windows file API: attributes, the three times, refusals.
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "../native/ZipTestArchive.h"

namespace {

constexpr uint64_t kEpoch = 0x019DB1DED53E8000ULL;

uint64_t Value(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

uint64_t UnixFileTime(int64_t seconds) {
    return static_cast<uint64_t>(seconds * 10000000) + kEpoch;
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

// Deletes a folder and everything in it, read-only files included.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + L"\\");
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// A scratch folder whose name lies outside the ANSI code page.
class ZipWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        m_root = std::wstring(temp) + L"qorv \x4E2D\x6587 \x0444" + std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        m_root += L"\\";
    }
    void TearDown() override { RemoveTree(m_root); }

    void WriteArchive(const std::vector<TestZipEntry>& entries,
                      const TestZipLayout& layout = TestZipLayout()) {
        const std::string bytes = BuildTestZip(entries, layout);
        HANDLE file = CreateFileW((m_root + L"pkg.zip").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, bytes.size());
    }

    // Runs qorv-unzip.exe ARCHIVE BASEDIR and returns its exit status.
    DWORD RunTool() {
        std::wstring command = L"\"" + ProgramDirectory() + L"qorv-unzip.exe\" \"" + m_root +
                               L"pkg.zip\" \"" + m_root + L"out\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            ADD_FAILURE() << "cannot start qorv-unzip.exe: " << GetLastError();
            return 0xFFFFFFFF;
        }
        WaitForSingleObject(process.hProcess, 60000);
        DWORD status = 0xFFFFFFFF;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return status;
    }

    std::string Read(const std::wstring& relative) {
        HANDLE file = CreateFileW((m_root + L"out\\" + relative).c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "<missing>";
        std::string content;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            content.append(buffer, read);
        }
        CloseHandle(file);
        return content;
    }

    WIN32_FILE_ATTRIBUTE_DATA Info(const std::wstring& relative) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        const std::wstring path = m_root + L"out\\" + relative;
        EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            << "missing: " << relative.size();
        return data;
    }

    // Whether the file system under the scratch folder keeps a creation time
    // that is set (Wine on Linux file systems does not).
    bool CreationTimeIsKept() {
        const std::wstring path = m_root + L"probe-creation";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const uint64_t wanted = UnixFileTime(1000000000);
        const FILETIME creation = {static_cast<DWORD>(wanted), static_cast<DWORD>(wanted >> 32)};
        SetFileTime(file, &creation, nullptr, nullptr);
        CloseHandle(file);
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        return Value(data.ftCreationTime) == wanted;
    }

    // Whether a read-only file refuses to be opened for writing here.
    bool ReadOnlyIsEnforced() {
        const std::wstring path = m_root + L"probe-read-only";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_READONLY, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return true;
        CloseHandle(file);
        return false;
    }

    std::wstring m_root;
};

TestZipEntry DosEntry(const std::string& name, const std::string& data, uint32_t attributes) {
    TestZipEntry entry;
    entry.name = name;
    entry.data = data;
    entry.versionMadeBy = 0x0B14;  // NTFS host: DOS attribute bits
    entry.externalAttributes = attributes;
    return entry;
}

TEST_F(ZipWineTest, AttributesAndExtendedTimesReachTheFiles) {
    TestZipEntry readOnly = DosEntry("sub\\ro.txt", "read only", 0x21);
    readOnly.localExtra = ExtendedTimeBlock(7, {1500000000, 1600000000, 1400000000});
    TestZipEntry hidden = DosEntry("sub/deeper/hidden.txt", std::string(40000, 'h'), 0x22);
    hidden.localExtra = ExtendedTimeBlock(1, {1234567890});
    // Trailing dots and spaces go, as Windows' own parsing drops them: the
    // game opens the file by the name without them.
    const TestZipEntry dotted = DosEntry("sub/dotted. .", "dots", 0x20);
    ASSERT_NO_FATAL_FAILURE(WriteArchive({readOnly, hidden, dotted}));
    ASSERT_EQ(RunTool(), 0u);
    EXPECT_EQ(Read(L"sub\\dotted"), "dots");

    const WIN32_FILE_ATTRIBUTE_DATA ro = Info(L"sub\\ro.txt");
    EXPECT_EQ(ro.dwFileAttributes & 0x37, 0x21u);
    EXPECT_EQ(Value(ro.ftLastWriteTime), UnixFileTime(1500000000));
    EXPECT_EQ(Value(ro.ftLastAccessTime), UnixFileTime(1600000000));
    if (CreationTimeIsKept()) {
        EXPECT_EQ(Value(ro.ftCreationTime), UnixFileTime(1400000000));
    } else {
        std::cout << "[ NOTE     ] this file system keeps no creation time; not checked\n";
    }
    EXPECT_EQ(ro.nFileSizeLow, 9u);

    // Only the write time comes from "UT"; the others keep the DOS stamp.
    const WIN32_FILE_ATTRIBUTE_DATA hid = Info(L"sub\\deeper\\hidden.txt");
    EXPECT_EQ(hid.dwFileAttributes & 0x37, 0x22u);
    EXPECT_EQ(Value(hid.ftLastWriteTime), UnixFileTime(1234567890));
    SYSTEMTIME local = {2020, 5, 6, 2, 3, 4, 6, 0};  // the builder's DOS stamp
    FILETIME localTime;
    FILETIME utc;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
    EXPECT_EQ(Value(hid.ftLastAccessTime), Value(utc));
    EXPECT_EQ(hid.nFileSizeLow, 40000u);
}

TEST_F(ZipWineTest, ExistingReadOnlyTargetsAreNotReplaced) {
    if (!ReadOnlyIsEnforced()) {
        GTEST_SKIP() << "read-only files stay writable here (Wine run by root)";
    }
    ASSERT_NO_FATAL_FAILURE(WriteArchive({DosEntry("a.txt", "first", 0x21)}));
    ASSERT_EQ(RunTool(), 0u);
    ASSERT_EQ(RunTool(), 1u);
    Info(L"a.txt");
}

TEST_F(ZipWineTest, NamesLeavingTheBaseStreamsAndDevicesAreRefused) {
    ASSERT_NO_FATAL_FAILURE(
        WriteArchive({DosEntry("dir\\..\\..\\z.txt", "z", 0x20),
                      DosEntry("s.txt:stream", "s", 0x20), DosEntry("fine.txt", "fine", 0x20)}));
    ASSERT_EQ(RunTool(), 1u);
    EXPECT_EQ(GetFileAttributesW((m_root + L"z.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((m_root + L"out\\s.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    Info(L"fine.txt");
    // Windows opens these as devices: a write "succeeds" and stores nothing.
    ASSERT_NO_FATAL_FAILURE(WriteArchive(
        {DosEntry("NUL", "n", 0x20), DosEntry("aux", "a", 0x20), DosEntry("sub/COM1", "c", 0x20)}));
    EXPECT_EQ(RunTool(), 1u);
    EXPECT_EQ(GetFileAttributesW((m_root + L"out\\sub").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ZipWineTest, Zip64SizesAndEndRecordsAreRead) {
    TestZipEntry deflated = DosEntry("data.bin", std::string(70000, 'z'), 0x20);
    deflated.zip64 = true;
    TestZipEntry stored = DosEntry("stored.txt", "stored", 0x20);
    stored.zip64 = true;
    stored.method = 0;
    TestZipLayout layout;
    layout.zip64End = true;
    ASSERT_NO_FATAL_FAILURE(WriteArchive({deflated, stored}, layout));
    ASSERT_EQ(RunTool(), 0u);
    EXPECT_TRUE(Read(L"data.bin") == std::string(70000, 'z'));
    EXPECT_EQ(Read(L"stored.txt"), "stored");
}

}  // namespace

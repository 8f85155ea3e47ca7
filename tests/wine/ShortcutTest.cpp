#include "services/Shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallNames.h"

using namespace qorv;

using Microsoft::WRL::ComPtr;

namespace {

struct LinkFields {
    HRESULT loaded = E_FAIL;
    std::wstring path;        // as GetPath reports it
    std::wstring idListPath;  // the item the link's ID list names
    std::wstring arguments;
    std::wstring workingDirectory;
};

// Loads a link file through the shell's own link object. COM is initialised
// around the read only, so the calling thread is left as it was.
LinkFields ReadLink(const std::wstring& file) {
    LinkFields fields;
    const HRESULT initialised = CoInitialize(nullptr);
    if (FAILED(initialised)) return fields;
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> persist;
        fields.loaded =
            CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
        if (SUCCEEDED(fields.loaded)) fields.loaded = link.As(&persist);
        if (SUCCEEDED(fields.loaded)) fields.loaded = persist->Load(file.c_str(), STGM_READ);
        if (SUCCEEDED(fields.loaded)) {
            wchar_t text[MAX_PATH] = {};
            link->GetPath(text, MAX_PATH, nullptr, 0);
            fields.path = text;
            PIDLIST_ABSOLUTE item = nullptr;
            text[0] = L'\0';
            if (link->GetIDList(&item) == S_OK && SHGetPathFromIDListW(item, text)) {
                fields.idListPath = text;
            }
            CoTaskMemFree(item);
            text[0] = L'\0';
            link->GetArguments(text, MAX_PATH);
            fields.arguments = text;
            text[0] = L'\0';
            link->GetWorkingDirectory(text, MAX_PATH);
            fields.workingDirectory = text;
        }
    }
    CoUninitialize();
    return fields;
}

std::wstring DesktopLink() {
    wchar_t desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, FALSE);
    return std::wstring(desktop) + L"\\" + qorv::kShortcutFile;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An install directory in the temporary folder holding an (empty) shell
// program, as the shell package leaves it; removed again afterwards.
class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override { Prepare(L"qorv-shortcut"); }

    void Prepare(const std::wstring& directoryName) {
        wchar_t temp[MAX_PATH] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        m_directory = std::wstring(temp) + directoryName;
        m_target = m_directory + L"\\" + qorv::kShellProgram;
        CreateDirectoryW(m_directory.c_str(), nullptr);
        HANDLE file = CreateFileW(m_target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        // Wine stores such names through the Unix locale's character set.
        ASSERT_NE(file, INVALID_HANDLE_VALUE)
            << "cannot create the shell program: is the Unix locale an installed UTF-8 one?";
        CloseHandle(file);
        DeleteFileW(DesktopLink().c_str());
    }

    void TearDown() override {
        DeleteFileW(DesktopLink().c_str());
        DeleteFileW(m_target.c_str());
        RemoveDirectoryW(m_directory.c_str());
    }

    std::wstring m_directory;
    std::wstring m_target;
};

TEST_F(ShortcutTest, SavesLinkToTargetWithArgumentsOnly) {
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, qorv::kPlatform);
    ASSERT_TRUE(FileExists(DesktopLink()));
    const LinkFields link = ReadLink(DesktopLink());
    ASSERT_EQ(link.loaded, S_OK);
    EXPECT_EQ(link.path, m_target);
    EXPECT_EQ(link.idListPath, m_target);
    EXPECT_EQ(link.arguments, L"pelmar");
    EXPECT_EQ(link.workingDirectory, L"");
    // COM was left uninitialised on this thread, as it was found.
    const HRESULT initialised = CoInitialize(nullptr);
    EXPECT_EQ(initialised, S_OK);
    if (SUCCEEDED(initialised)) CoUninitialize();
}

TEST_F(ShortcutTest, SecondCallReplacesTheSameFile) {
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, L"earlier");
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, qorv::kPlatform);
    const LinkFields link = ReadLink(DesktopLink());
    ASSERT_EQ(link.loaded, S_OK);
    EXPECT_EQ(link.path, m_target);
    EXPECT_EQ(link.arguments, L"pelmar");
}

TEST_F(ShortcutTest, WorksWhereComIsAlreadyInitialised) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, qorv::kPlatform);
    // The caller's initialisation survives the call.
    ComPtr<IShellLinkW> link;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)),
              S_OK);
    link.Reset();
    CoUninitialize();
    EXPECT_EQ(ReadLink(DesktopLink()).path, m_target);
}

TEST_F(ShortcutTest, WritesNothingWhereComCannotBeInitialised) {
    // A multithreaded apartment makes CoInitialize fail with RPC_E_CHANGED_MODE.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, qorv::kPlatform);
    EXPECT_FALSE(FileExists(DesktopLink()));
    // No stray CoUninitialize: the apartment is still there.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

// Runs only where the ANSI code page is 1252, which lacks the CJK characters.
class ShortcutCp1252Test : public ShortcutTest {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 1252u) << "Wine takes the ANSI code page from the locale: set LC_ALL";
        Prepare(L"qorv-\x5F20\x4E09");  // "qorv-<Zhang San>"
    }
};

TEST_F(ShortcutCp1252Test, TargetOutsideTheCodePageReadsBackExactly) {
    CreateDesktopShortcut(m_target, qorv::kShortcutFile, qorv::kPlatform);
    const LinkFields link = ReadLink(DesktopLink());
    ASSERT_EQ(link.loaded, S_OK);
    // The ID list holds the target in UTF-16. GetPath is not checked here: Wine
    // keeps only an ANSI copy of the path in the file's location block and
    // reports that, where Windows also stores the path in UTF-16.
    EXPECT_EQ(link.idListPath, m_target);
    EXPECT_EQ(link.arguments, L"pelmar");
}

}  // namespace

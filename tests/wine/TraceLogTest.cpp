// The trace's fallback file: a program started without standard output logs
// to QorvInstall.log, whose folder the shell stage creates only after the
// first paints have traced.
#include "services/Trace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "services/UniqueHandle.h"

using namespace qorv;

TEST(TraceLog, LinesFromBeforeTheLogFolderExistsReachTheLog) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"qorv-trace\\";
    const std::wstring log = folder + qorv::kTraceLogFile;
    // Left by the last run: the trace keeps its log open until the end.
    DeleteFileW(log.c_str());
    RemoveDirectoryW(folder.c_str());
    // The process-wide choice is made once: without standard output.
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
    qorv::TraceSetLogDirectory(folder);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);

    qorv::TraceLog(qorv::kTraceWidth, 7);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    qorv::TraceLog(qorv::kTraceLoadingStep, 1);

    qorv::KernelHandle file(CreateFileW(log.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    char text[64] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file.Get(), text, sizeof(text) - 1, &read, nullptr));
    EXPECT_EQ(std::string(text, read), "\nwidth=7loading_step=1");
}

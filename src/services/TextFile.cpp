#include <windows.h>

#include "services/FileSystem.h"
#include "services/Text.h"
#include "services/TextFile.h"
#include "services/TextMode.h"
#include "services/UniqueHandle.h"

namespace qorv {

std::wstring ReadTextFile(const std::wstring& path) {
    if (!PathExists(path)) return std::wstring();
    // No sharing: nobody may write the file while it is read.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // Never more than the cap is read into memory: the downloads stop there,
    // but an older run may have left a longer file (a body sent without a
    // length grew past 4 GiB). Such a file is no text of ours: unreadable.
    LARGE_INTEGER size{};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxTextFileBytes) {
        return std::wstring();
    }
    std::string raw(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!raw.empty() &&
        !ReadFile(file.Get(), &raw[0], static_cast<DWORD>(raw.size()), &read, nullptr)) {
        return std::wstring();
    }
    raw.resize(read);
    std::string text = TextModeBytes(raw);
    text.resize(std::char_traits<char>::length(text.c_str()));  // up to the first zero byte
    return CodePageToUtf16(text.data(), text.size(), CP_THREAD_ACP);
}

}  // namespace qorv

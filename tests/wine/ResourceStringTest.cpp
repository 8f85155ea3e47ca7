// Checks LoadResourceString against the strings of ResourceStringTest.rc:
// one longer than any path buffer, one of CJK text, and one that is missing.
// Exit code 0 when all hold; each failure is printed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ResourceStringTest.h"
#include "services/ResourceString.h"

using namespace qorv;

namespace {

int Check(unsigned id, const std::wstring& expected) {
    std::wstring text = qorv::LoadResourceString(id);
    if (text == expected) return 0;
    std::printf("string %u: got %zu units, expected %zu\n", id, text.size(), expected.size());
    return 1;
}

}  // namespace

int main() {
    std::wstring longText;
    for (int i = 0; i < kLongRepeats; ++i) longText += kLongPiece;
    int failures = Check(kIdsLong, longText);
    failures += Check(kIdsCjk, L"\x4e0b\x8f7d\x5b8c\x6210");
    failures += Check(kIdsMissing, L"");
    std::printf("%s\n", failures == 0 ? "ok" : "failed");
    return failures == 0 ? 0 : 1;
}

// The file-name token parsing over arbitrary module paths (UTF-8 input made
// UTF-16). A token, when found, is a non-empty piece of the file name with no
// "-" or "\"; without one the token is left alone. Splitting at "-" drops
// exactly the delimiters.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzFail.h"
#include "services/Text.h"
#include "workflow/InstallerName.h"

using namespace qorv;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring path = qorv::Utf8ToUtf16(reinterpret_cast<const char*>(data), size);

    std::vector<std::wstring> pieces;
    qorv::SplitString(path, L"-", pieces);
    std::wstring joined;
    for (const std::wstring& piece : pieces) {
        if (piece.empty()) Fail("empty piece");
        joined += piece;
    }
    std::wstring withoutDelimiters;
    for (wchar_t c : path) {
        if (c != L'-') withoutDelimiters += c;
    }
    if (joined != withoutDelimiters) Fail("split lost or kept text");

    const std::wstring sentinel = L"unchanged";
    std::wstring token = sentinel;
    if (!qorv::ParseInstallerName(path, &token)) {
        if (token != sentinel) Fail("token changed without three pieces");
        return 0;
    }
    if (token.empty()) Fail("empty token");
    if (token.find(L'-') != std::wstring::npos || token.find(L'\\') != std::wstring::npos) {
        Fail("token holds a delimiter or separator");
    }
    const size_t slash = path.rfind(L'\\');
    const std::wstring fileName = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (fileName.find(token) == std::wstring::npos) Fail("token is not part of the file name");
    return 0;
}

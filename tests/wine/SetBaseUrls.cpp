// qorv-set-base-urls EXE RESOURCE_URL ACCOUNT_URL: rewrites string resources
// 135 and 136 of a copy of the installer, so the end-to-end tests can point
// one build at servers they choose at run time (https:// ones among them)
// without configuring the product again. Exits 0 once the copy is rewritten.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ResourceIds.h"

namespace {

// String resources live in blocks of 16; block n holds ids 16 (n - 1) to
// 16 n - 1, each a length-prefixed UTF-16 text, empty slots as length 0.
constexpr unsigned kBlockSize = 16;
// The language of the installer's string table.
constexpr WORD kLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
static_assert(qorv::kIdsResourceBaseUrl / kBlockSize == qorv::kIdsAccountBaseUrl / kBlockSize,
              "both base URLs are in one block");

std::wstring Block(unsigned block, const wchar_t* resourceUrl, const wchar_t* accountUrl) {
    std::wstring data;
    for (unsigned id = (block - 1) * kBlockSize; id < block * kBlockSize; ++id) {
        std::wstring text;
        if (id == qorv::kIdsResourceBaseUrl) text = resourceUrl;
        if (id == qorv::kIdsAccountBaseUrl) text = accountUrl;
        data.push_back(static_cast<wchar_t>(text.size()));
        data += text;
    }
    return data;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qorv-set-base-urls EXE RESOURCE_URL ACCOUNT_URL\n");
        return 2;
    }
    const unsigned block = qorv::kIdsResourceBaseUrl / kBlockSize + 1;
    const std::wstring data = Block(block, argv[2], argv[3]);

    HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
    bool ok =
        update != nullptr && UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(block), kLanguage,
                                             const_cast<wchar_t*>(data.data()),
                                             static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    if (update != nullptr && !EndUpdateResourceW(update, !ok)) ok = false;
    if (!ok) {
        std::fprintf(stderr, "updating the resources failed: %lu\n", GetLastError());
        return 1;
    }
    return 0;
}

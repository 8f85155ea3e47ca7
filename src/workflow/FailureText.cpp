#include "workflow/FailureText.h"

#include <cwchar>

#include "PlayerTexts.h"

namespace qorv {

namespace {

constexpr uint64_t kMegabyte = 1024 * 1024;

}  // namespace

std::wstring DeliveryFailureText(const DeliveryResult& result) {
    switch (result.error) {
        case kResultSharingViolation:
        case kResultLockViolation:
            return kInUseText;
        case kResultDiskFull: {
            // Rounded up: "0 MB" would tell the player nothing.
            const std::wstring size =
                std::to_wstring((result.bytesNeeded + kMegabyte - 1) / kMegabyte) + kMegabytesUnit;
            wchar_t text[128] = {};
            swprintf(text, sizeof text / sizeof text[0], kNoSpaceFormat, size.c_str());
            return text;
        }
        default:
            return kInstallFailedText;
    }
}

}  // namespace qorv

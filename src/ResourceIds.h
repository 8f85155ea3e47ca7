// The identifiers of the installer's resources (res/QorvInstall.rc): icon,
// artwork, dialog templates, strings and dialog controls.
#pragma once

namespace qorv {

constexpr unsigned kIdrMainFrame = 128;     // icon group
constexpr unsigned kIdPngBar = 129;         // the golden bar, 441 x 5
constexpr unsigned kIdPngBackground = 130;  // the artwork, 467 x 218
constexpr unsigned kIddHost = 102;          // host window template
constexpr unsigned kIddView = 132;          // progress view template
constexpr unsigned kIdsResourceBaseUrl = 135;
constexpr unsigned kIdsAccountBaseUrl = 136;
constexpr int kIdcBarAnchor = 1000;
constexpr int kIdcStatusText = 1002;
constexpr wchar_t kPngResourceType[] = L"PNG";

}  // namespace qorv

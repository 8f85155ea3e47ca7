// Results, one rule for the whole installer:
// - HRESULT across Windows calls, delivery and the stages: S_OK, or the
//   failure passed on as the call below gave it, so that a trace shows what
//   Windows said (on the POSIX build the portable code uses the same type);
// - inside the zip layer, its named ZipResult codes, which the unpack loop
//   traces per entry and folds into "every entry extracted";
// - bool only for plain questions (is it there, is it the same) and for
//   steps with a single way to fail;
// - a caller acts on every result or says why it need not.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
#endif

namespace qorv {

// The results the installer makes itself; the others come from the calls
// below it.
constexpr HRESULT kResultNotFound = static_cast<HRESULT>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND
// INET_E_DOWNLOAD_FAILURE: another status than asked for, a body cut short,
// an answer that contradicts itself.
constexpr HRESULT kResultDownloadFailed = static_cast<HRESULT>(0x800C0008);
// INET_E_UNKNOWN_PROTOCOL: a URL neither http nor https.
constexpr HRESULT kResultUnknownProtocol = static_cast<HRESULT>(0x800C000D);
// INET_E_REDIRECT_FAILED: too many redirects, or one without a usable target.
constexpr HRESULT kResultRedirectFailed = static_cast<HRESULT>(0x800C0014);
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE): a file longer than its download
// takes (the 32-bit progress counters' limit, a small file's cap), a body
// longer than its answer said, a path too long.
constexpr HRESULT kResultTooLarge = static_cast<HRESULT>(0x800700DF);
constexpr HRESULT kResultFailed = static_cast<HRESULT>(0x80004005);  // E_FAIL
// HRESULT_FROM_WIN32(ERROR_DISK_FULL): the install's drive has too little
// room for what a delivery writes.
constexpr HRESULT kResultDiskFull = static_cast<HRESULT>(0x80070070);
// HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) and (ERROR_LOCK_VIOLATION): a
// program holds a file a delivery must replace.
constexpr HRESULT kResultSharingViolation = static_cast<HRESULT>(0x80070020);
constexpr HRESULT kResultLockViolation = static_cast<HRESULT>(0x80070021);
// HRESULT_FROM_WIN32(ERROR_HANDLE_EOF): a file that ends before the bytes
// asked of it.
constexpr HRESULT kResultEndOfFile = static_cast<HRESULT>(0x80070026);
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): a file or registry key that is
// not there.
constexpr HRESULT kResultFileNotFound = static_cast<HRESULT>(0x80070002);
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS): a file of the player's stands
// where a package puts a folder, or the reverse.
constexpr HRESULT kResultInTheWay = static_cast<HRESULT>(0x800700B7);

// What the POSIX build's transport gives where WinINet would give these.
constexpr HRESULT kResultTimeout = static_cast<HRESULT>(0x80072EE2);  // ERROR_INTERNET_TIMEOUT
constexpr HRESULT kResultCannotConnect =
    static_cast<HRESULT>(0x80072EFD);  // ERROR_INTERNET_CANNOT_CONNECT
constexpr HRESULT kResultHttpsToHttp =
    static_cast<HRESULT>(0x80072F18);  // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR

}  // namespace qorv

// The URLs the installer asks for: a package with its cache-busting tick
// count, and the login redirect with its values percent-encoded.
#pragma once

#include <cstdint>
#include <string>

namespace qorv {

// base + remotePath + "?skq=" + the tick count as a signed decimal.
std::wstring PackageUrl(const std::wstring& baseUrl, const wchar_t* remotePath, uint32_t tickCount);

// base + "qv/redirect_login_token?token=" + token + "&platform=" + platform,
// each value percent-encoded from its UTF-8 form (all but A-Z a-z 0-9 - . _ ~),
// so no token can change the request's shape.
std::wstring LoginUrl(const std::wstring& accountBaseUrl, const std::wstring& token,
                      const std::wstring& platform);

// The login URL as the trace shows it: the token replaced by a fixed mark.
std::wstring TracedLoginUrl(const std::wstring& accountBaseUrl, const std::wstring& platform);

}  // namespace qorv

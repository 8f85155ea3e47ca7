// Blocking HTTP download of one URL to one file, on the calling worker thread.
#pragma once

#include <urlmon.h>

#include <string>

namespace qorv {

// Fetches url into path without writing through the browser cache. The body
// goes to path + ".part" first and replaces path only when the server said
// 2xx and the whole body (all of Content-Length, when sent) arrived, so a
// failure leaves nothing under path. callback (may be null) gets OnProgress
// after every read, with maximum 0 while the length is unknown. S_OK exactly
// on success.
HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* callback);

// The text of a string resource of the running program; empty when missing.
std::wstring LoadResourceString(unsigned id);

}  // namespace qorv

// Blocking HTTP download of one URL to one file, on the calling worker thread.
#pragma once

#include <urlmon.h>

#include <string>

namespace qorv {

// How long the download waits for a connection or for the next bytes of the
// answer before it gives up. A server that accepts and then says nothing ends
// the download after this long; a body that keeps trickling, however slowly,
// never runs into it.
constexpr DWORD kDownloadIdleTimeoutMs = 20000;

// Fetches url into path without writing through the browser cache, following
// the system's proxy settings and the server's redirects (to any host, at
// most 10, never from https to http). The body goes to
// path + ".part" first and replaces path only when the server said 2xx and
// the whole body (all of Content-Length, when sent) arrived; a failure deletes
// the ".part" file and leaves whatever was under path untouched. Without a
// length the body ends where WinINet ends it, and Wine's cannot tell a chunked
// body that lost its last chunk from a complete one.
// callback (may be null) gets OnProgress once with 0 when the answer's headers
// are in and again after every read (at most 64 KiB, taken as soon as bytes
// arrive), with maximum 0 when the server sent no length; its result is not
// looked at. A length above 4 GiB - 1, which the 32-bit counters cannot carry,
// is refused. S_OK exactly on success; a failure gives INET_E_RESOURCE_NOT_FOUND
// for 404, INET_E_DOWNLOAD_FAILURE for another non-2xx status or a body cut
// short, INET_E_REDIRECT_FAILED for too many redirects or one without a usable
// target, or the WinINet or file error.
HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* callback);

}  // namespace qorv

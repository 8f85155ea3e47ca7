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

// One range request. A tail request asks for the last length bytes of the
// file (all of it when shorter); any other asks for length bytes at offset,
// and only of the file the tail request saw.
struct RangeRequest {
    bool tail = false;
    ULONGLONG offset = 0;
    ULONGLONG length = 0;
    // The progress reports count from progressBase up to progressTotal.
    ULONG progressBase = 0;
    ULONG progressTotal = 0;
};

// What the answers said; filled by the tail request, read by the others.
struct RangeAnswer {
    std::wstring validator;  // the file's strong ETag, else its Last-Modified
    ULONGLONG total = 0;     // the file's size
    ULONGLONG offset = 0;    // of the bytes the last answer carried
    ULONGLONG length = 0;
};

// Fetches range of url and writes the bytes at their own offset in file.
// Requests after the tail one carry If-Range with answer's validator, so a
// file replaced in between answers 200, which fails here without its body
// being read, as does every other status than 206, a Content-Range other
// than the one asked for, a length that disagrees with it, or a body cut
// short. Redirects are followed as by DownloadToFile; progress is reported
// as there, counted from range.progressBase.
HRESULT DownloadRange(const wchar_t* url, const RangeRequest& range, HANDLE file,
                      IBindStatusCallback* callback, RangeAnswer* answer);

}  // namespace qorv

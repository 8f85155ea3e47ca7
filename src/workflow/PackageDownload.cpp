#include "workflow/PackageDownload.h"

#include <windows.h>

#include <strsafe.h>
#include <wininet.h>

#include "Constants.h"
#include "workflow/FileHandle.h"

namespace qorv {
namespace {

constexpr DWORD kReadSize = 64 * 1024;
// Decimal digits of the largest Content-Length accepted (4294967295) and a
// few more, so a longer value is seen as too long rather than cut.
constexpr DWORD kLengthChars = 32;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() {
        if (m_handle) InternetCloseHandle(m_handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_handle; }
    void reset(HINTERNET handle) {
        if (m_handle) InternetCloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HINTERNET m_handle;
};

// Redirects followed per download before it counts as failed.
constexpr int kMaxRedirects = 10;

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

// The request's Content-Length: S_OK with *known false when the server sent
// none (chunked or ended by closing the connection).
HRESULT QueryContentLength(HINTERNET request, bool* known, ULONG* length) {
    wchar_t text[kLengthChars] = {};
    DWORD size = sizeof(text);
    *known = false;
    *length = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        DWORD error = GetLastError();
        return error == ERROR_HTTP_HEADER_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
    }
    if (text[0] == L'\0') return INET_E_DOWNLOAD_FAILURE;
    ULONGLONG value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') return INET_E_DOWNLOAD_FAILURE;
        value = value * 10 + static_cast<ULONGLONG>(*c - L'0');
        if (value > MAXDWORD) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    *known = true;
    *length = static_cast<ULONG>(value);
    return S_OK;
}

HRESULT QueryStatus(HINTERNET request, DWORD* status) {
    DWORD size = sizeof(*status);
    *status = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, &size,
                        nullptr)) {
        return LastError();
    }
    return S_OK;
}

HRESULT CheckStatus(DWORD status) {
    if (status == HTTP_STATUS_NOT_FOUND) return INET_E_RESOURCE_NOT_FOUND;
    if (status < HTTP_STATUS_OK || status >= HTTP_STATUS_AMBIGUOUS) return INET_E_DOWNLOAD_FAILURE;
    return S_OK;
}

HRESULT WriteAll(HANDLE file, const BYTE* data, DWORD size) {
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr)) return LastError();
    return written == size ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

void Report(IBindStatusCallback* callback, ULONG received, ULONG length, ULONG status) {
    if (callback) callback->OnProgress(received, length, status, nullptr);
}

// The request for url, sent, with the idle timeout on its connection.
HRESULT SendRequest(HINTERNET session, const wchar_t* url, const std::wstring& headers,
                    HINTERNET* connection, HINTERNET* request) {
    // Non-zero lengths with null pointers: the parts point into url.
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url, 0, 0, &parts)) return LastError();
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return INET_E_UNKNOWN_PROTOCOL;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    *connection = InternetConnectW(session, host.c_str(), parts.nPort, nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 0);
    if (!*connection) return LastError();
    // Reload and no cache write: the body goes to the file only, never a
    // second time into the browser cache.
    // Redirects are followed by OpenAnswer, which checks where each leads.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    *request =
        HttpOpenRequestW(*connection, nullptr, object.c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (!*request) return LastError();
    // On the request itself: Wine takes the send and receive timeouts only
    // there, and without them waits for a silent server for ever.
    DWORD timeout = kDownloadIdleTimeoutMs;
    const DWORD timeoutOptions[] = {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (DWORD option : timeoutOptions) {
        if (!InternetSetOptionW(*request, option, &timeout, sizeof(timeout))) return LastError();
    }
    if (!HttpSendRequestW(*request, headers.empty() ? nullptr : headers.c_str(),
                          static_cast<DWORD>(headers.size()), nullptr, 0)) {
        return LastError();
    }
    return S_OK;
}

bool IsRedirect(DWORD status) {
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
           status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           status == HTTP_STATUS_PERMANENT_REDIRECT;
}

bool IsHttps(const std::wstring& url) {
    return _wcsnicmp(url.c_str(), L"https:", 6) == 0;
}

// The redirect's target, resolved against url: any host (content networks
// send requests on to others), but never from https back to plain http.
HRESULT NextUrl(HINTERNET request, std::wstring* url) {
    wchar_t location[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD size = sizeof(location) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) {
        return INET_E_REDIRECT_FAILED;
    }
    wchar_t next[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!InternetCombineUrlW(url->c_str(), location, next, &length, ICU_NO_ENCODE)) {
        return INET_E_REDIRECT_FAILED;
    }
    if (IsHttps(*url) && !IsHttps(next)) {
        return HRESULT_FROM_WIN32(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    }
    *url = next;
    return S_OK;
}

// Sends the request for url and follows its redirects; on S_OK, request
// holds the final answer, whose status is in *status.
HRESULT OpenAnswer(HINTERNET session, const wchar_t* firstUrl, const std::wstring& headers,
                   InternetHandle* connection, InternetHandle* request, DWORD* status) {
    std::wstring url = firstUrl;
    for (int redirects = 0;; ++redirects) {
        request->reset(nullptr);
        HINTERNET connectionHandle = nullptr;
        HINTERNET requestHandle = nullptr;
        HRESULT hr = SendRequest(session, url.c_str(), headers, &connectionHandle, &requestHandle);
        connection->reset(connectionHandle);
        request->reset(requestHandle);
        if (FAILED(hr)) return hr;
        hr = QueryStatus(request->get(), status);
        if (FAILED(hr) || !IsRedirect(*status)) return hr;
        if (redirects == kMaxRedirects) return INET_E_REDIRECT_FAILED;
        hr = NextUrl(request->get(), &url);
        if (FAILED(hr)) return hr;
    }
}

// A response header as text; empty when the server sent none.
std::wstring QueryHeader(HINTERNET request, DWORD header) {
    wchar_t text[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, header, text, &size, nullptr)) return std::wstring();
    return text;
}

// Parses "bytes first-last/total" strictly: digits only, first <= last < total.
bool ParseContentRange(const std::wstring& text, ULONGLONG* first, ULONGLONG* last,
                       ULONGLONG* total) {
    const wchar_t* c = text.c_str();
    if (wcsncmp(c, L"bytes ", 6) != 0) return false;
    c += 6;
    ULONGLONG* fields[] = {first, last, total};
    const wchar_t ends[] = {L'-', L'/', L'\0'};
    for (int i = 0; i < 3; ++i) {
        if (*c < L'0' || *c > L'9') return false;
        ULONGLONG value = 0;
        for (; *c >= L'0' && *c <= L'9'; ++c) {
            if (value > MAXDWORD) return false;
            value = value * 10 + static_cast<ULONGLONG>(*c - L'0');
        }
        if (*c != ends[i]) return false;
        if (i < 2) ++c;
        *fields[i] = value;
    }
    return *first <= *last && *last < *total && *total <= MAXDWORD;
}

// For a range request: checks that the answer is the part asked for, of the
// same file, and moves the file pointer to where those bytes belong.
HRESULT AcceptRange(HINTERNET request, DWORD status, const RangeRequest& range, HANDLE file,
                    RangeAnswer* answer) {
    // A 200 is the whole file: the server ignores ranges, or the file
    // changed since the validator was taken. Its body is not read.
    if (status != HTTP_STATUS_PARTIAL_CONTENT) return INET_E_DOWNLOAD_FAILURE;
    ULONGLONG first = 0;
    ULONGLONG last = 0;
    ULONGLONG total = 0;
    if (!ParseContentRange(QueryHeader(request, HTTP_QUERY_CONTENT_RANGE), &first, &last, &total)) {
        return INET_E_DOWNLOAD_FAILURE;
    }
    if (range.tail) {
        const ULONGLONG wanted = range.length < total ? range.length : total;
        if (last != total - 1 || last - first + 1 != wanted) return INET_E_DOWNLOAD_FAILURE;
        // A weak tag may not be used in If-Range; the date may.
        std::wstring tag = QueryHeader(request, HTTP_QUERY_ETAG);
        if (tag.empty() || tag.compare(0, 2, L"W/") == 0) {
            tag = QueryHeader(request, HTTP_QUERY_LAST_MODIFIED);
        }
        if (tag.empty()) return INET_E_DOWNLOAD_FAILURE;
        answer->validator = tag;
        answer->total = total;
    } else if (first != range.offset || last != range.offset + range.length - 1 ||
               total != answer->total) {
        return INET_E_DOWNLOAD_FAILURE;
    }
    answer->offset = first;
    answer->length = last - first + 1;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(first);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return LastError();
    return S_OK;
}

std::wstring RangeHeaders(const RangeRequest& range, const std::wstring& validator) {
    wchar_t text[64] = {};
    if (range.tail) {
        StringCchPrintfW(text, 64, L"Range: bytes=-%llu\r\n", range.length);
        return text;
    }
    StringCchPrintfW(text, 64, L"Range: bytes=%llu-%llu\r\n", range.offset,
                     range.offset + range.length - 1);
    return text + (L"If-Range: " + validator + L"\r\n");
}

// Reads the answer to url into file: the whole body, or with range the part
// it asks for, written at its offset.
HRESULT Transfer(const wchar_t* url, HANDLE file, IBindStatusCallback* callback,
                 const RangeRequest* range, RangeAnswer* answer) {
    InternetHandle session(
        InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.get()) return LastError();
    DWORD timeout = kDownloadIdleTimeoutMs;
    if (!InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout,
                            sizeof(timeout))) {
        return LastError();
    }
    InternetHandle connection(nullptr);
    InternetHandle request(nullptr);
    DWORD status = 0;
    const std::wstring headers = range ? RangeHeaders(*range, answer->validator) : std::wstring();
    HRESULT hr = OpenAnswer(session.get(), url, headers, &connection, &request, &status);
    if (FAILED(hr)) return hr;
    hr = CheckStatus(status);
    if (FAILED(hr)) return hr;
    if (range) {
        hr = AcceptRange(request.get(), status, *range, file, answer);
        if (FAILED(hr)) return hr;
    }
    bool lengthKnown = false;
    ULONG length = 0;
    hr = QueryContentLength(request.get(), &lengthKnown, &length);
    if (FAILED(hr)) return hr;
    if (range && (!lengthKnown || length != answer->length)) return INET_E_DOWNLOAD_FAILURE;
    const ULONG base = range ? range->progressBase : 0;
    const ULONG reportTotal = range ? range->progressTotal : length;

    ULONGLONG received = 0;
    Report(callback, base, reportTotal, BINDSTATUS_BEGINDOWNLOADDATA);
    // One report per read of up to 64 KiB, written to the file when the
    // buffer is full. WinINet hands data out in small pieces (Wine: 8 KiB);
    // a read and a report per piece would cost a trace and a repaint each.
    BYTE buffer[kReadSize];
    DWORD filled = 0;
    for (;;) {
        if (filled == kReadSize) {
            hr = WriteAll(file, buffer, filled);
            if (FAILED(hr)) return hr;
            filled = 0;
        }
        DWORD read = 0;
        if (!InternetReadFile(request.get(), buffer + filled, kReadSize - filled, &read)) {
            return LastError();
        }
        if (read == 0) break;
        filled += read;
        received += read;
        Report(callback, static_cast<ULONG>(base + received), reportTotal,
               BINDSTATUS_DOWNLOADINGDATA);
    }
    if (filled > 0) {
        hr = WriteAll(file, buffer, filled);
        if (FAILED(hr)) return hr;
    }
    if (lengthKnown && received != length) return INET_E_DOWNLOAD_FAILURE;
    return S_OK;
}

}  // namespace

HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, IBindStatusCallback* callback) {
    wchar_t partPath[MAX_PATH] = {};
    HRESULT hr = StringCchCopyW(partPath, MAX_PATH, path);
    if (SUCCEEDED(hr)) hr = StringCchCatW(partPath, MAX_PATH, kDownloadSuffix);
    if (FAILED(hr)) return hr;

    {
        FileHandle file(CreateFileW(partPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return LastError();
        hr = Transfer(url, file.get(), callback, nullptr, nullptr);
    }  // closed here: it is moved or deleted next
    if (SUCCEEDED(hr) && !MoveFileExW(partPath, path, MOVEFILE_REPLACE_EXISTING)) {
        hr = LastError();
    }
    if (FAILED(hr)) DeleteFileW(partPath);
    return hr;
}

HRESULT DownloadRange(const wchar_t* url, const RangeRequest& range, HANDLE file,
                      IBindStatusCallback* callback, RangeAnswer* answer) {
    if (range.length == 0) return E_INVALIDARG;
    return Transfer(url, file, callback, &range, answer);
}

}  // namespace qorv

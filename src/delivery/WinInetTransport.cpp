#include "delivery/WinInetTransport.h"

#include <strsafe.h>

#include <string>

#include "InstallNames.h"

namespace qorv {

namespace {

// Decimal digits of the largest Content-Length accepted (4294967295) and a
// few more, so a longer value is seen as too long rather than cut.
constexpr DWORD kLengthChars = 32;

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

// The request's Content-Length: S_OK with *known false when the server sent
// none (chunked or ended by closing the connection).
HRESULT QueryContentLength(HINTERNET request, bool* known, uint64_t* length) {
    wchar_t text[kLengthChars] = {};
    DWORD size = sizeof(text);
    *known = false;
    *length = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        DWORD error = GetLastError();
        return error == ERROR_HTTP_HEADER_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
    }
    if (text[0] == L'\0') return kResultDownloadFailed;
    ULONGLONG value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') return kResultDownloadFailed;
        value = value * 10 + static_cast<ULONGLONG>(*c - L'0');
        if (value > MAXDWORD) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    *known = true;
    *length = value;
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
        return kResultUnknownProtocol;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    *connection = InternetConnectW(session, host.c_str(), parts.nPort, nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 0);
    if (!*connection) return LastError();
    // Reload and no cache write: the body goes to the file only, never a
    // second time into the browser cache.
    // Redirects are followed by Open, which checks where each leads.
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
        return kResultRedirectFailed;
    }
    wchar_t next[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD length = INTERNET_MAX_URL_LENGTH;
    if (!InternetCombineUrlW(url->c_str(), location, next, &length, ICU_NO_ENCODE)) {
        return kResultRedirectFailed;
    }
    if (IsHttps(*url) && !IsHttps(next)) {
        return HRESULT_FROM_WIN32(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    }
    *url = next;
    return S_OK;
}

// A response header as text; empty when the server sent none.
std::wstring QueryHeader(HINTERNET request, DWORD header) {
    wchar_t text[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, header, text, &size, nullptr)) return std::wstring();
    return text;
}

// The Range and If-Range lines of request; empty without a range.
std::wstring RangeHeaders(const HttpRequest& request) {
    if (!request.ranged) return std::wstring();
    wchar_t text[64] = {};
    if (request.suffix > 0) {
        StringCchPrintfW(text, 64, L"Range: bytes=-%llu\r\n", request.suffix);
    } else if (request.last == kToTheEnd) {
        StringCchPrintfW(text, 64, L"Range: bytes=%llu-\r\n", request.first);
    } else {
        StringCchPrintfW(text, 64, L"Range: bytes=%llu-%llu\r\n", request.first, request.last);
    }
    std::wstring headers = text;
    if (!request.ifRange.empty()) headers += L"If-Range: " + request.ifRange + L"\r\n";
    return headers;
}

}  // namespace

WinInetTransport::~WinInetTransport() {
    CloseAnswer();
}

void WinInetTransport::CloseAnswer() {
    m_request.Reset();
    m_connection.Reset();
}

HRESULT WinInetTransport::Open(const HttpRequest& request, HttpAnswer* answer) {
    CloseAnswer();
    *answer = HttpAnswer();
    if (!m_session.IsValid()) {
        m_session.Reset(
            InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!m_session.IsValid()) return LastError();
        DWORD timeout = kDownloadIdleTimeoutMs;
        if (!InternetSetOptionW(m_session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout,
                                sizeof(timeout))) {
            return LastError();
        }
    }
    const std::wstring headers = RangeHeaders(request);
    std::wstring url = request.url;
    DWORD status = 0;
    for (int redirects = 0;; ++redirects) {
        CloseAnswer();
        HRESULT hr = SendRequest(m_session.Get(), url.c_str(), headers, m_connection.Receive(),
                                 m_request.Receive());
        if (hr != S_OK) return hr;
        hr = QueryStatus(m_request.Get(), &status);
        if (hr != S_OK) return hr;
        if (!IsRedirect(status)) break;
        if (redirects == kMaxRedirects) return kResultRedirectFailed;
        hr = NextUrl(m_request.Get(), &url);
        if (hr != S_OK) return hr;
    }
    answer->status = status;
    const HRESULT length =
        QueryContentLength(m_request.Get(), &answer->lengthKnown, &answer->length);
    if (length != S_OK) return length;
    answer->contentRange = QueryHeader(m_request.Get(), HTTP_QUERY_CONTENT_RANGE);
    answer->etag = QueryHeader(m_request.Get(), HTTP_QUERY_ETAG);
    answer->lastModified = QueryHeader(m_request.Get(), HTTP_QUERY_LAST_MODIFIED);
    return S_OK;
}

HRESULT WinInetTransport::Read(void* buffer, uint32_t capacity, uint32_t* read) {
    DWORD got = 0;
    if (!InternetReadFile(m_request.Get(), buffer, capacity, &got)) return LastError();
    *read = got;
    return S_OK;
}

}  // namespace qorv

#include "delivery/CurlTransport.h"

#include <strings.h>
#include <curl/curl.h>

#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>

#include "InstallNames.h"
#include "services/Text.h"

namespace qorv {

namespace {

// The longest Content-Length accepted: the stages' 32-bit progress counters.
constexpr uint64_t kMaxLength = 0xFFFFFFFF;
// How long one wait for the socket lasts before curl is asked again.
constexpr int kPollMs = 1000;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool IsHttps(const std::string& url) {
    return url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
}

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

HRESULT ResultOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return S_OK;
        case CURLE_OPERATION_TIMEDOUT:
            return kResultTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return kResultCannotConnect;
        default:
            return kResultDownloadFailed;
    }
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::wstring Wide(const std::string& text) {
    return Utf8ToUtf16(text.data(), text.size());
}

// Curl's Range option: "first-last", "first-" or "-suffix".
std::string RangeOf(const HttpRequest& request) {
    if (request.suffix > 0) return "-" + std::to_string(request.suffix);
    std::string range = std::to_string(request.first) + "-";
    if (request.last != kToTheEnd) range += std::to_string(request.last);
    return range;
}

}  // namespace

// One answer at a time: its easy handle in the multi handle (whose
// connections outlive it), its head as the header lines gave it, and the
// body bytes curl handed over that Read has not taken yet.
struct CurlTransport::State {
    std::unique_ptr<CURLM, MultiDeleter> multi{curl_multi_init()};
    CURL* easy = nullptr;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    HttpAnswer answer;
    HRESULT headResult = S_OK;  // a head that cannot be taken (a bad length)
    bool headDone = false;
    bool finished = false;
    CURLcode result = CURLE_OK;
    std::string body;
    size_t bodyAt = 0;

    ~State() { CloseAnswer(); }

    void CloseAnswer() {
        if (easy == nullptr) return;
        curl_multi_remove_handle(multi.get(), easy);
        curl_easy_cleanup(easy);
        easy = nullptr;
    }

    // Every header line of the answer, the status line first; a blank line
    // ends a head (a 1xx answer's head is followed by another).
    void HeaderLine(const std::string& line) {
        if (line.compare(0, 5, "HTTP/") == 0) {
            answer = HttpAnswer();
            headResult = S_OK;
            const size_t space = line.find(' ');
            answer.status =
                space == std::string::npos
                    ? 0
                    : static_cast<uint32_t>(strtoul(line.c_str() + space + 1, nullptr, 10));
            return;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            if (Trimmed(line).empty() && answer.status >= 200) headDone = true;
            return;
        }
        const std::string name = line.substr(0, colon);
        const std::string value = Trimmed(line.substr(colon + 1));
        if (strcasecmp(name.c_str(), "Content-Length") == 0) {
            TakeLength(value);
        } else if (strcasecmp(name.c_str(), "Content-Range") == 0) {
            answer.contentRange = Wide(value);
        } else if (strcasecmp(name.c_str(), "ETag") == 0) {
            answer.etag = Wide(value);
        } else if (strcasecmp(name.c_str(), "Last-Modified") == 0) {
            answer.lastModified = Wide(value);
        }
    }

    void TakeLength(const std::string& value) {
        uint64_t length = 0;
        if (value.empty()) headResult = kResultDownloadFailed;
        for (char c : value) {
            if (c < '0' || c > '9') {
                headResult = kResultDownloadFailed;
                return;
            }
            length = length * 10 + static_cast<uint64_t>(c - '0');
            if (length > kMaxLength) {
                headResult = kResultTooLarge;
                return;
            }
        }
        answer.lengthKnown = true;
        answer.length = length;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        static_cast<State*>(self)->HeaderLine(std::string(data, size * count));
        return size * count;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* state = static_cast<State*>(self);
        // A redirect's body is nobody's.
        if (!IsRedirect(state->answer.status)) state->body.append(data, size * count);
        return size * count;
    }

    HRESULT Start(const std::string& url, const HttpRequest& request) {
        CloseAnswer();
        answer = HttpAnswer();
        headResult = S_OK;
        headDone = false;
        finished = false;
        result = CURLE_OK;
        body.clear();
        bodyAt = 0;
        headers.reset();
        if (!request.ifRange.empty()) {
            const std::string line = "If-Range: " + Utf16ToUtf8(request.ifRange);
            headers.reset(curl_slist_append(nullptr, line.c_str()));
            if (!headers) return kResultFailed;
        }
        const std::string range = request.ranged ? RangeOf(request) : std::string();
        const std::string agent = Utf16ToUtf8(kHttpUserAgent, wcslen(kHttpUserAgent));
        easy = curl_easy_init();
        if (easy == nullptr) return kResultFailed;
        // Redirects are followed by Open, which checks where each leads; a
        // byte a second at most for 20 seconds is silence.
        const bool set =
            curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                             static_cast<long>(kDownloadIdleTimeoutMs)) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                             static_cast<long>(kDownloadIdleTimeoutMs / 1000)) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &State::OnHeader) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &State::OnBody) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
            (range.empty() || curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str()) == CURLE_OK);
        if (!set || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return kResultFailed;
        return S_OK;
    }

    // Lets curl move the transfer on, and waits for the socket when that
    // brought nothing; finished once the answer ended, well or not.
    HRESULT Pump() {
        const size_t bodyBefore = body.size();
        const bool headBefore = headDone;
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return kResultFailed;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                finished = true;
                result = message->data.result;
            }
        }
        if (finished || headDone != headBefore || body.size() != bodyBefore) return S_OK;
        return curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr) == CURLM_OK
                   ? S_OK
                   : kResultFailed;
    }
};

CurlTransport::CurlTransport() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_state = std::make_unique<State>();
}

CurlTransport::~CurlTransport() = default;

HRESULT CurlTransport::Open(const HttpRequest& request, HttpAnswer* answer) {
    *answer = HttpAnswer();
    State& state = *m_state;
    if (!state.multi) return kResultFailed;
    std::string url = Utf16ToUtf8(request.url);
    for (int redirects = 0;; ++redirects) {
        HRESULT hr = state.Start(url, request);
        while (hr == S_OK && !state.headDone && !state.finished) hr = state.Pump();
        if (hr != S_OK) return hr;
        if (!state.headDone)
            return state.result == CURLE_OK ? kResultDownloadFailed : ResultOf(state.result);
        if (state.headResult != S_OK) return state.headResult;
        if (!IsRedirect(state.answer.status)) break;
        char* next = nullptr;
        if (redirects == kMaxRedirects ||
            curl_easy_getinfo(state.easy, CURLINFO_REDIRECT_URL, &next) != CURLE_OK ||
            next == nullptr) {
            return kResultRedirectFailed;
        }
        if (IsHttps(url) && !IsHttps(next)) return kResultHttpsToHttp;
        url = next;
    }
    *answer = state.answer;
    return S_OK;
}

HRESULT CurlTransport::Read(void* buffer, uint32_t capacity, uint32_t* read) {
    *read = 0;
    State& state = *m_state;
    if (state.easy == nullptr) return kResultFailed;
    while (state.bodyAt == state.body.size() && !state.finished) {
        state.body.clear();
        state.bodyAt = 0;
        const HRESULT hr = state.Pump();
        if (hr != S_OK) return hr;
    }
    const size_t waiting = state.body.size() - state.bodyAt;
    if (waiting == 0) return ResultOf(state.result);
    const size_t count = waiting < capacity ? waiting : capacity;
    memcpy(buffer, state.body.data() + state.bodyAt, count);
    state.bodyAt += count;
    *read = static_cast<uint32_t>(count);
    return S_OK;
}

}  // namespace qorv

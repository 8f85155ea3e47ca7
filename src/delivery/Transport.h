// The one seam between delivery and the network: a GET, with or without a
// byte range, its answer's head, then its body. The product's transport is
// WinINet (WinInetTransport.h); the native tests put a small fake here, and
// the rehearsal tool libcurl (CurlTransport.h).
#pragma once

#include <cstdint>
#include <string>

#include "services/Hresult.h"

namespace qorv {

// A range that runs to the file's end.
constexpr uint64_t kToTheEnd = UINT64_MAX;

// How long a request waits for a connection or for the next bytes of the
// answer before it gives up. A server that accepts and then says nothing ends
// the request after this long; a body that keeps trickling, however slowly,
// never runs into it.
constexpr uint32_t kDownloadIdleTimeoutMs = 20000;

// Redirects followed per request before it counts as failed.
constexpr int kMaxRedirects = 10;

struct HttpRequest {
    std::wstring url;
    // Unranged: the whole file. Ranged: bytes first..last (kToTheEnd: to the
    // end), or with suffix above 0 the file's last suffix bytes.
    bool ranged = false;
    uint64_t first = 0;
    uint64_t last = kToTheEnd;
    uint64_t suffix = 0;
    // With a range: the validator the bytes must still match (If-Range).
    std::wstring ifRange;
};

struct HttpAnswer {
    uint32_t status = 0;
    bool lengthKnown = false;  // Content-Length sent
    uint64_t length = 0;
    std::wstring contentRange;  // as sent; empty when absent
    std::wstring etag;
    std::wstring lastModified;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Sends request, following redirects; S_OK with the final answer's head,
    // or what kept an answer from arriving. Ends any earlier answer.
    virtual HRESULT Open(const HttpRequest& request, HttpAnswer* answer) = 0;
    // The next bytes of the open answer's body, *read 0 at its end.
    virtual HRESULT Read(void* buffer, uint32_t capacity, uint32_t* read) = 0;
};

}  // namespace qorv

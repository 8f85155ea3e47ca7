// The product's Transport: WinINet on the calling worker thread, without the
// browser cache, with the system's proxy settings and certificate checks.
#pragma once

#include <windows.h>

#include <wininet.h>

#include "delivery/Transport.h"
#include "services/UniqueHandle.h"

namespace qorv {

// Follows the server's redirects to any host (content networks send
// requests on), at most 10, never from https to http; a length above
// 4 GiB - 1, which the 32-bit progress counters cannot carry, is refused.
// Without a length a body ends where WinINet ends it, and Wine's cannot tell
// a chunked body that lost its last chunk from a complete one. Failures are
// kResultRedirectFailed for too many redirects or one without a usable
// target, or the WinINet error.
class WinInetTransport : public Transport {
public:
    WinInetTransport() = default;
    ~WinInetTransport() override;
    WinInetTransport(const WinInetTransport&) = delete;
    WinInetTransport& operator=(const WinInetTransport&) = delete;

    HRESULT Open(const HttpRequest& request, HttpAnswer* answer) override;
    HRESULT Read(void* buffer, uint32_t capacity, uint32_t* read) override;

private:
    void CloseAnswer();

    struct InternetHandleTraits {
        using Handle = HINTERNET;
        static Handle None() { return nullptr; }
        static bool IsValid(Handle handle) { return handle != nullptr; }
        static void Close(Handle handle) { InternetCloseHandle(handle); }
    };
    using InternetHandle = UniqueHandle<InternetHandleTraits>;

    InternetHandle m_session;
    InternetHandle m_connection;  // of the answer being read
    InternetHandle m_request;
};

}  // namespace qorv

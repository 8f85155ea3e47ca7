// A Transport over libcurl for Linux: what the rehearsal tool and the native
// tests use against real servers. The product's transport stays WinINet
// (WinInetTransport.h); this one keeps its rules: redirects to any host, at
// most 10, never from https to http; 20 seconds without a byte fails.
#pragma once

#include <memory>

#include "delivery/Transport.h"

namespace qorv {

class CurlTransport : public Transport {
public:
    CurlTransport();
    ~CurlTransport() override;
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    HRESULT Open(const HttpRequest& request, HttpAnswer* answer) override;
    HRESULT Read(void* buffer, uint32_t capacity, uint32_t* read) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace qorv

// The progress of the download tool and the download benchmark: delivery's
// observer pausing as the stages' does, without painting, printing each
// report as "progress=P max=M" when asked to.
#pragma once

#include <windows.h>

#include <cstdio>

#include "delivery/DeliveryObserver.h"

class ProgressStandIn : public qorv::DeliveryObserver {
public:
    explicit ProgressStandIn(bool print) : m_print(print) {}

    void Progress(uint64_t done, uint64_t total) override {
        if (!m_print) return;
        std::printf("progress=%llu max=%llu\n", static_cast<unsigned long long>(done),
                    static_cast<unsigned long long>(total));
        std::fflush(stdout);
    }
    void Pause(uint32_t milliseconds) override { Sleep(milliseconds); }
    void Fetched(const qorv::FetchSummary&) override {}

private:
    bool m_print;
};

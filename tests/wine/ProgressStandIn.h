// The progress of the download tool and the download benchmark: delivery's
// observer as the stages have it, without painting, printing each report as
// "progress=P max=M" when asked to.
#pragma once

#include <cstdio>

#include "delivery/DownloadToFile.h"

class ProgressStandIn : public qorv::BindStatusObserver {
public:
    explicit ProgressStandIn(bool print) : BindStatusObserver(nullptr), m_print(print) {}

    void Progress(uint64_t done, uint64_t total) override {
        if (!m_print) return;
        std::printf("progress=%llu max=%llu\n", static_cast<unsigned long long>(done),
                    static_cast<unsigned long long>(total));
        std::fflush(stdout);
    }

private:
    bool m_print;
};

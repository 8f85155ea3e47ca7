// What the installer does with the resource server on one run, for one
// install folder: the shell package, the version file, and the client when
// the version changed or a recorded file is missing. The one place where
// the rehearsal meets delivery's interface.
#pragma once

#include <cstdint>
#include <string>

#include "delivery/DeliveryObserver.h"
#include "delivery/Transport.h"

namespace qorv {

// A version file larger than this is no version.
constexpr uint64_t kMaxVersionBytes = 64 * 1024;

enum class RunKind {
    kFirstInstall,  // no version before
    kUpdate,        // the version changed
    kUpToDate,      // the same version, nothing missing
    kRestore,       // the same version, recorded files missing
};

struct RunOutcome {
    RunKind kind = RunKind::kFirstInstall;
    bool done = false;    // every stage ended as the installer's would before the launch
    std::string failure;  // what stopped the run when it is not done
};

RunOutcome RunInstaller(const std::wstring& baseUrl, const std::wstring& installDir,
                        Transport& transport, DeliveryObserver& observer);

const char* RunKindName(RunKind kind);

}  // namespace qorv

// Bringing an install folder in line with a package on the resource server:
// the one entry point of both package stages. With an install state for the
// package, the package's tail is fetched and compared, and only the entries
// the rule asks for are fetched by ranges; without one, or when ranges
// cannot serve, the whole package is downloaded (resumed where an earlier
// try stopped). Either way the entries go in place in two phases
// (Apply.h), and the state is the one truth of what is installed.
#pragma once

#include <string>

#include "delivery/DeliveryObserver.h"
#include "delivery/EntryPlan.h"
#include "delivery/PackageVersion.h"
#include "delivery/Transport.h"

namespace qorv {

struct PackageDelivery {
    std::wstring url;        // the package, with its cache-busting query
    std::wstring copyPath;   // the whole download's file; the sparse copy goes beside it
    std::wstring targetDir;  // where the entries are extracted
    std::wstring statePath;  // the package's install state
    RepairRule rule = RepairRule::kReplaceChanged;
    // The version text the package is installed for, kept in the state (the
    // client's version file's bytes; empty for the shell), and what it names.
    std::string version;
    PackageVersion expected;
};

enum class DeliveryStatus {
    kInLine,          // every entry asked for in place; the state committed
    kDownloadFailed,  // error holds the download's result; nothing changed
    kMismatch,        // the served package is not the one its version names; nothing
                      // changed, and a whole copy stays to be judged again
    kUnpackFailed,    // an entry could not be put in place (traced), or no room for the
                      // download; nothing changed, or the moves wait in the state for the
                      // next run
};

struct DeliveryResult {
    DeliveryStatus status = DeliveryStatus::kInLine;
    // With kUnpackFailed: kResultDiskFull, a sharing or lock violation (a
    // program holds path), or another cause.
    HRESULT error = S_OK;
    std::wstring path;         // with kUnpackFailed: the file that failed, when one did
    uint64_t bytesNeeded = 0;  // with kResultDiskFull: what the delivery needs
};

[[nodiscard]] DeliveryResult DeliverPackage(const PackageDelivery& delivery, Transport& transport,
                                            DeliveryObserver& observer);

}  // namespace qorv

// Bringing an install folder in line with a package on the resource server:
// the one entry point of both package stages. With a record of what the
// package put there, the package's tail is fetched and compared, and only
// the entries the rule asks for are fetched by ranges and extracted; without
// one, or when ranges cannot serve, the whole package is downloaded (resumed
// where an earlier try stopped) and extracted.
#pragma once

#include <functional>
#include <string>

#include "delivery/DeliveryObserver.h"
#include "delivery/Transport.h"

namespace qorv {

// Which entries of a package a delivery by ranges fetches and extracts.
enum class RepairRule {
    // Each entry that differs from the record or whose installed file is not
    // exactly as extracted (the shell).
    kReplaceChanged,
    // A new version: each entry that differs from the record or whose file
    // is missing or of another size; when none differs, the whole way, so
    // that the package's digest can judge it (the client).
    kNewVersion,
    // The same version: only entries whose file is missing, and only while
    // the served package is the recorded one; one that changed without a new
    // version goes the whole way. A file that is there stays, whatever it
    // holds: the game may rewrite files it was shipped with (the client).
    kRestoreMissing,
};

struct PackageDelivery {
    std::wstring url;         // the package, with its cache-busting query
    std::wstring copyPath;    // the whole download's file; the sparse copy goes beside it
    std::wstring targetDir;   // where the entries are extracted
    std::wstring recordPath;  // the record of what the package put there
    RepairRule rule = RepairRule::kReplaceChanged;
    // Judges a whole download before anything is extracted (the client's
    // SHA-256 version); empty: every one is right.
    std::function<bool(const std::wstring& path)> wholeMatches;
    // A file claiming what is installed (the client's "pkg.ver"): deleted
    // before the first installed file may change, so that a run killed
    // during the unpack is never taken for a finished one.
    std::wstring claimPath;
};

enum class DeliveryStatus {
    kInLine,          // every entry asked for extracted; the record kept
    kDownloadFailed,  // error holds the download's result; nothing extracted
    kMismatch,        // the whole download failed wholeMatches; nothing touched
    kUnpackFailed,    // an entry did not extract (traced); its old file stays
};

struct DeliveryResult {
    DeliveryStatus status = DeliveryStatus::kInLine;
    HRESULT error = S_OK;
};

[[nodiscard]] DeliveryResult DeliverPackage(const PackageDelivery& delivery, Transport& transport,
                                            DeliveryObserver& observer);

}  // namespace qorv

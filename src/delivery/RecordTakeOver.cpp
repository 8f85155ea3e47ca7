#include "delivery/RecordTakeOver.h"

#include "delivery/EntryPlan.h"
#include "delivery/InstallState.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/zip/PackageDirectory.h"

namespace qorv {

namespace {

// No package's directory and end records are larger.
constexpr uint64_t kMaxRecordBytes = 64ull * 1024 * 1024 + kPackageTailBytes;

}  // namespace

void TakeOverRecord(const std::wstring& recordPath, const std::wstring& statePath,
                    const std::wstring& targetDir, const std::string& version) {
    if (!PathExists(recordPath) || PathExists(statePath)) return;
    std::vector<unsigned char> bytes;
    std::vector<PackageEntry> entries;
    if (ReadWholeFile(recordPath, kMaxRecordBytes, &bytes) && ReadDirectory(bytes, &entries)) {
        InstallState state;
        state.version = version;
        Sha256 hash;
        hash.Update(bytes.data(), bytes.size());
        state.directory = hash.Final();
        for (const PackageEntry& entry : entries) {
            InstalledEntry installed;
            installed.name = entry.name;
            installed.crc = entry.crc;
            installed.size = entry.uncompressedSize;
            installed.attributes = EntryAttributes(entry);
            std::wstring name;
            const FileFacts facts = EntryTargetName(entry.name, &name)
                                        ? ReadFileFacts(AppendPath(targetDir, name))
                                        : FileFacts();
            if (facts.exists && !facts.directory && facts.size == entry.uncompressedSize) {
                installed.diskSize = facts.size;
                installed.diskTime = facts.writeTime;
            }
            state.entries.push_back(installed);
        }
        // Without the state the record stays, and the next run tries again.
        if (!WriteInstallState(state, statePath)) return;
    }
    DeleteOneFile(recordPath);
}

}  // namespace qorv

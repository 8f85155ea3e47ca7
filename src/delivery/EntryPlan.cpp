#include "delivery/EntryPlan.h"

#include <cwctype>
#include <map>

#include "services/FileSystem.h"
#include "services/zip/ZipEntryRecord.h"
#include "services/zip/ZipNames.h"

namespace qorv {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// What the package says of an entry that decides whether it is the installed one.
bool SameContent(const PackageEntry& entry, const InstalledEntry& installed) {
    return entry.name == installed.name && entry.crc == installed.crc &&
           entry.uncompressedSize == installed.size &&
           EntryAttributes(entry) == installed.attributes;
}

}  // namespace

bool EntryTargetName(const std::string& stored, std::wstring* name) {
    wchar_t decoded[kZipMaxPath] = {};
    if (!ZipDecodeName(stored.data(), stored.size(), decoded)) return false;
    ZipCleanName(decoded);
    if (decoded[0] == L'\0' || ZipTargetEscapesBase(decoded)) return false;
    *name = decoded;
    return true;
}

std::wstring EntryParent(const std::wstring& name) {
    size_t end = name.size();
    while (end > 0 && IsSeparator(name[end - 1])) --end;  // a folder entry's own
    while (end > 0 && !IsSeparator(name[end - 1])) --end;
    while (end > 0 && IsSeparator(name[end - 1])) --end;
    return name.substr(0, end);
}

std::wstring EntryFileKey(const std::string& stored) {
    std::wstring key;
    if (!EntryTargetName(stored, &key)) return std::wstring();
    for (wchar_t& c : key) c = IsSeparator(c) ? L'\\' : static_cast<wchar_t>(towlower(c));
    while (!key.empty() && key.back() == L'\\') key.pop_back();
    return key;
}

bool IsFolderEntry(const PackageEntry& entry) {
    return (EntryAttributes(entry) & kZipAttrDirectory) != 0 ||
           (!entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\'));
}

uint32_t EntryAttributes(const PackageEntry& entry) {
    return ZipMapAttributes(entry.externalAttributes, entry.versionMadeBy);
}

bool StillInstalled(const std::wstring& targetDir, const InstalledEntry& installed,
                    RepairRule rule) {
    std::wstring name;
    if (!EntryTargetName(installed.name, &name)) return false;
    const std::wstring path = AppendPath(targetDir, name);
    if (path.empty()) return false;
    const FileFacts facts = ReadFileFacts(path);
    const bool folder = (installed.attributes & kZipAttrDirectory) != 0 ||
                        IsSeparator(static_cast<wchar_t>(installed.name.back()));
    if (!facts.exists || facts.directory || folder) {
        return facts.exists && facts.directory == folder;
    }
    switch (rule) {
        case RepairRule::kRestoreMissing:
            return true;
        case RepairRule::kNewVersion:
            return facts.size == installed.diskSize;
        case RepairRule::kReplaceChanged:
            return facts.size == installed.diskSize && facts.writeTime == installed.diskTime;
    }
    return false;
}

std::vector<EntryPlan> PlanEntries(const std::vector<PackageEntry>& entries,
                                   const InstallState* installed, const std::wstring& targetDir,
                                   RepairRule rule) {
    std::map<std::wstring, const InstalledEntry*> byFile;
    if (installed != nullptr) {
        for (const InstalledEntry& entry : installed->entries) {
            byFile[EntryFileKey(entry.name)] = &entry;
        }
    }
    std::vector<EntryPlan> plans(entries.size());
    std::map<std::wstring, size_t> lastOf;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::wstring key = EntryFileKey(entries[i].name);
        // A refused name stays planned: its extraction fails and says so.
        if (key.empty()) continue;
        const auto earlier = lastOf.find(key);
        if (earlier != lastOf.end()) plans[earlier->second].action = EntryAction::kShadowed;
        lastOf[key] = i;
        const auto found = byFile.find(key);
        if (found == byFile.end()) continue;
        EntryPlan& plan = plans[i];
        plan.installed = found->second;
        const bool same =
            rule == RepairRule::kRestoreMissing || SameContent(entries[i], *found->second);
        if (same && StillInstalled(targetDir, *found->second, rule))
            plan.action = EntryAction::kKeep;
    }
    return plans;
}

uint64_t ExtractedBytes(const std::vector<PackageEntry>& entries,
                        const std::vector<EntryPlan>& plans) {
    uint64_t bytes = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (plans[i].action == EntryAction::kExtract) bytes += entries[i].uncompressedSize;
    }
    return bytes;
}

bool InstalledFileMissing(const std::wstring& statePath, const std::wstring& targetDir) {
    InstallState state;
    if (!ReadInstallState(statePath, &state)) return false;
    for (const InstalledEntry& entry : state.entries) {
        if (!StillInstalled(targetDir, entry, RepairRule::kRestoreMissing)) return true;
    }
    return false;
}

}  // namespace qorv

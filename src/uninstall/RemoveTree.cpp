#include "uninstall/RemoveTree.h"

#include "services/FileSystem.h"

namespace qorv {

bool RemoveTree(const std::wstring& directory, std::vector<std::wstring>* failed) {
    std::vector<DirEntry> entries;
    if (!ListDirectory(directory, &entries)) {
        failed->push_back(directory);
        return false;
    }
    const size_t failedBefore = failed->size();
    for (const DirEntry& entry : entries) {
        const std::wstring path = AppendPath(directory, entry.name);
        if (path.empty()) {  // too long to name: the folder holding it stays
            failed->push_back(directory);
            continue;
        }
        if (entry.directory && !entry.link) {
            RemoveTree(path, failed);
            continue;
        }
        if (!entry.link) ClearReadOnly(path);  // the package may have installed it read-only
        const bool removed = entry.link ? RemoveDirectoryOrLink(path, entry) : DeleteOneFile(path);
        if (!removed) failed->push_back(path);
    }
    const DirEntry self{directory, true, false};
    if (RemoveDirectoryOrLink(directory, self)) return true;
    if (failed->size() == failedBefore) failed->push_back(directory);
    return false;
}

}  // namespace qorv

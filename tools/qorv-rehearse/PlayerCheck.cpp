#include "PlayerCheck.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "InstallNames.h"
#include "InstallRun.h"
#include "delivery/InstallState.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Text.h"
#include "services/TextFile.h"

namespace qorv {

namespace {

bool ReadBytes(const std::filesystem::path& path, std::string* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// The file's size and CRC-32 match the entry's.
bool MatchesEntry(const std::wstring& path, const InstalledEntry& entry) {
    std::string bytes;
    if (!ReadBytes(NativePath(path), &bytes) || bytes.size() != entry.size) return false;
    uLong crc = crc32(0, nullptr, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    return crc == entry.crc;
}

std::string DiffersFromState(const std::wstring& statePath, const std::wstring& targetDir) {
    InstallState state;
    if (!ReadInstallState(statePath, &state)) return "no state " + NativePath(statePath);
    for (const InstalledEntry& entry : state.entries) {
        if (entry.name.back() == '/') continue;
        const std::wstring path =
            AppendPath(targetDir, Utf8ToUtf16(entry.name.data(), entry.name.size()));
        if (!MatchesEntry(path, entry)) return "differs from its entry: " + NativePath(path);
    }
    return std::string();
}

}  // namespace

std::string DiffersFromExpected(const std::string& expectedDir, const std::string& installDir) {
    std::error_code error;
    std::filesystem::recursive_directory_iterator walk(expectedDir, error);
    if (error) return "cannot read " + expectedDir;
    for (const auto& item : walk) {
        if (!item.is_regular_file()) continue;
        const std::filesystem::path relative = item.path().lexically_relative(expectedDir);
        std::string expected;
        std::string installed;
        if (!ReadBytes(item.path(), &expected) ||
            !ReadBytes(std::filesystem::path(installDir) / relative, &installed) ||
            expected != installed) {
            return "differs: " + relative.string();
        }
    }
    return std::string();
}

std::string DiffersFromStates(const std::wstring& installDir, const std::string& servedVersion) {
    std::string differs = DiffersFromState(AppendPath(installDir, kShellStateFile), installDir);
    if (differs.empty()) {
        differs = DiffersFromState(AppendPath(installDir, kClientStateFile),
                                   AppendPath(installDir, kClientSubdir));
    }
    std::vector<unsigned char> version;
    if (differs.empty() &&
        (!ReadWholeFile(AppendPath(installDir, kVersionFile), kMaxTextFileBytes, &version) ||
         std::string(version.begin(), version.end()) != servedVersion)) {
        differs = "pkg.ver is not the served one";
    }
    return differs;
}

}  // namespace qorv

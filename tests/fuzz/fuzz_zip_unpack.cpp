// The zip layer over in-memory archives, driven with the install stages' call
// sequence into a scratch base directory. Beyond "does not crash" it checks:
// no name the layer hands out is absolute, nothing appears or disappears
// outside the base directory, an extraction that returns 0 left a file with
// the central directory's CRC-32 and size (or a directory), and one that
// fails left the file it would have replaced as it was.
#include <dirent.h>
#include <ftw.h>
#include <unistd.h>
#include <zlib.h>
#include <minizip/unzip.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzFail.h"
#include "MemoryArchiveFile.h"
#include "services/Text.h"
#include "services/zip/ZipExtract.h"
#include "services/zip/ZipNames.h"

using namespace qorv;

namespace {

// root/ holds base/ (the install directory), cwd/ (the process's current
// directory, where a target resolved against it would land) and a sentinel
// file that an escaping delete would remove.
struct Scratch {
    std::string root;
    std::string base;
    std::string cwd;
    std::string sentinel;
};

Scratch MakeScratch() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qorv-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) Fail("mkdtemp", pattern);
    Scratch scratch;
    scratch.root = buffer.data();
    scratch.base = scratch.root + "/base";
    scratch.cwd = scratch.root + "/cwd";
    scratch.sentinel = scratch.root + "/sentinel";
    if (mkdir(scratch.base.c_str(), 0777) != 0 || mkdir(scratch.cwd.c_str(), 0777) != 0) {
        Fail("mkdir", scratch.root);
    }
    FILE* file = fopen(scratch.sentinel.c_str(), "wb");
    if (file == nullptr) Fail("sentinel", scratch.sentinel);
    fclose(file);
    if (chdir(scratch.cwd.c_str()) != 0) Fail("chdir", scratch.cwd);
    return scratch;
}

const Scratch& GetScratch() {
    static const Scratch scratch = MakeScratch();
    return scratch;
}

int RemoveOne(const char* path, const struct stat* /*status*/, int /*type*/, struct FTW* /*ftw*/) {
    chmod(path, 0700);  // read-only entries are made writable before removal
    return remove(path);
}

void EmptyDirectory(const std::string& directory) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) Fail("opendir", directory);
    std::vector<std::string> children;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") children.push_back(directory + "/" + name);
    }
    closedir(dir);
    for (const std::string& child : children) {
        chmod(child.c_str(), 0700);
        nftw(child.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }
}

// Everything outside base/ is as the scratch was made.
void CheckOutsideUntouched(const Scratch& scratch) {
    DIR* dir = opendir(scratch.root.c_str());
    if (dir == nullptr) Fail("opendir", scratch.root);
    int count = 0;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        ++count;
        if (name != "base" && name != "cwd" && name != "sentinel") Fail("created outside", name);
    }
    closedir(dir);
    if (count != 3) Fail("removed outside", scratch.root);
    DIR* cwd = opendir(scratch.cwd.c_str());
    if (cwd == nullptr) Fail("opendir", scratch.cwd);
    while (const dirent* item = readdir(cwd)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") Fail("created in the current directory", name);
    }
    closedir(cwd);
}

// The central directory's CRC-32 and size of each entry the walk reaches,
// read with minizip itself; an entry with a damaged record has none.
struct CentralFacts {
    bool known;
    uint32_t crc;
    uint64_t size;
};

std::vector<CentralFacts> ReadCentralFacts(int32_t count) {
    std::vector<CentralFacts> facts;
    zlib_filefunc64_def functions;
    FillMemoryArchiveFunctions(&functions);
    unzFile reader = unzOpen2_64("", &functions);
    if (reader == nullptr) return facts;
    int status = unzGoToFirstFile(reader);
    for (int32_t i = 0; i < count && status == UNZ_OK; ++i) {
        unz_file_info64 info;
        const bool read =
            unzGetCurrentFileInfo64(reader, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK;
        facts.push_back(
            {read, read ? static_cast<uint32_t>(info.crc) : 0, read ? info.uncompressed_size : 0});
        status = unzGoToNextFile(reader);
    }
    unzClose(reader);
    return facts;
}

std::string NativePath(const std::string& base, const wchar_t* name) {
    std::string relative = qorv::Utf16ToUtf8(name, wcslen(name));
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    return base + "/" + relative;
}

void CheckExtracted(const std::string& path, size_t index, const ZipEntryInfo& entry,
                    const std::vector<CentralFacts>& central) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) Fail("result 0 without a target", path);
    // A folder is an entry with the directory attribute or a name that ends
    // in a separator.
    const size_t length = wcslen(entry.name);
    const bool folderName =
        length > 0 && (entry.name[length - 1] == L'\\' || entry.name[length - 1] == L'/');
    if ((entry.attributes & 0x10) != 0 || folderName) {
        if (!S_ISDIR(status.st_mode)) Fail("directory entry not a directory", path);
        return;
    }
    if (!S_ISREG(status.st_mode)) Fail("file entry not a regular file", path);
    if (index >= central.size() || !central[index].known) {
        Fail("result 0 for an entry the central walk cannot reach", path);
    }
    const CentralFacts& facts = central[index];
    if (static_cast<uint64_t>(status.st_size) != facts.size) Fail("size differs", path);
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) Fail("unreadable", path);
    uLong crc = crc32(0, nullptr, 0);
    unsigned char buffer[16384];
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;) {
        crc = crc32(crc, buffer, static_cast<uInt>(read));
    }
    fclose(file);
    if (static_cast<uint32_t>(crc) != facts.crc) Fail("CRC-32 differs", path);
}

// The bytes of the regular file at path; none for anything else.
std::optional<std::string> FileBytes(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;)
        bytes.append(buffer, read);
    fclose(file);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& scratch = GetScratch();
    SetMemoryArchive(data, size);
    const std::wstring baseDir = qorv::Utf8ToUtf16(scratch.base.data(), scratch.base.size());

    // The stages' sequence: open, base directory, count, then per index the
    // record, the delete of the old file (made writable first) and the
    // extraction; close.
    ZipHandle archive = ZipOpen(L"package.zip");
    ZipSetBaseDir(archive, baseDir.c_str());
    ZipEntryInfo entry{};
    ZipGetEntry(archive, -1, &entry);
    const int32_t count = archive != nullptr ? entry.index : 0;
    const std::vector<CentralFacts> facts = ReadCentralFacts(count);
    for (int32_t i = 0; i < count; ++i) {
        entry.index = 0;
        entry.name[0] = L'\0';
        entry.uncompressedSize = 0;
        ZipGetEntry(archive, i, &entry);
        if (ZipIsAbsolutePath(entry.name))
            Fail("absolute name", qorv::Utf16ToUtf8(entry.name, wcslen(entry.name)));
        // Names repeat in hostile archives: a later entry may replace an
        // earlier one's file.
        const std::string target = NativePath(scratch.base, entry.name);
        const std::optional<std::string> before = FileBytes(target);
        if (ZipExtractEntry(archive, i, entry.name) == ZipOk) {
            CheckExtracted(target, static_cast<size_t>(i), entry, facts);
        } else if (FileBytes(target) != before) {
            Fail("a failed entry changed the file it would replace", target);
        }
    }
    ZipClose(archive);

    CheckOutsideUntouched(scratch);
    EmptyDirectory(scratch.base);
    return 0;
}

// qorv-unzip: lists a package, or unpacks it the way the install stages do,
// reporting every result code as JSON Lines on standard output.
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "services/Text.h"
#include "services/zip/ZipExtract.h"
#include "services/zip/ZipTimes.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qorv {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: qorv-unzip ARCHIVE [BASEDIR]\n"
    "\n"
    "Checks a zip package with the installer's own extraction code.\n"
    "With ARCHIVE only, lists every entry; with BASEDIR, also extracts each\n"
    "entry under BASEDIR, in index order, exactly as the install stages do.\n"
    "\n"
    "Output is JSON Lines on standard output:\n"
    "  {\"open\":CODE,\"count\":N}\n"
    "  {\"index\":I,\"get\":CODE,\"name\":\"...\",\"attributes\":A,\"writeTime\":T,\n"
    "   \"accessTime\":T,\"creationTime\":T,\"compressedSize\":S,\n"
    "   \"uncompressedSize\":S,\"extract\":CODE or null when listing}\n"
    "  {\"finish\":CODE,\"index\":I} when a file failed as it was closed\n"
    "CODE is the result code (0 success, 0x200 file, 0x400 write, 0x700 corrupt\n"
    "header or method, 0x800 read, 0x1000 password, 0x10000 arguments,\n"
    "0x80000 mode, 0x5000000 data), times are Windows FILETIME values (UTC).\n"
    "\n"
    "Exit status: 0 when every code is 0, 1 when any is not, 2 for usage errors.\n";

struct JsonDelete {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

// Every number here is an integer, written as its exact digits: cJSON keeps
// numbers as doubles, which would round a FILETIME, and prints each through
// "%g" and reads it back, which cost more than the rest of an entry's line.
void AddInteger(cJSON* object, const char* name, int64_t value) {
    cJSON_AddRawToObject(object, name, std::to_string(value).c_str());
}

void AddTime(cJSON* object, const char* name, const FILETIME& time) {
    cJSON_AddRawToObject(object, name, std::to_string(ZipFileTimeToUint64(time)).c_str());
}

void PrintLine(const Json& object) {
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(object.get()),
                                                      &cJSON_free);
    if (text) printf("%s\n", text.get());
}

void PrintEntry(int32_t index, ZipResult get, const ZipEntryInfo& entry, bool extracting,
                ZipResult extract) {
    Json line(cJSON_CreateObject());
    AddInteger(line.get(), "index", index);
    AddInteger(line.get(), "get", get);
    cJSON_AddStringToObject(line.get(), "name",
                            Utf16ToUtf8(entry.name, wcslen(entry.name)).c_str());
    AddInteger(line.get(), "attributes", entry.attributes);
    AddTime(line.get(), "writeTime", entry.writeTime);
    AddTime(line.get(), "accessTime", entry.accessTime);
    AddTime(line.get(), "creationTime", entry.creationTime);
    AddInteger(line.get(), "compressedSize", entry.compressedSize);
    AddInteger(line.get(), "uncompressedSize", entry.uncompressedSize);
    if (extracting) {
        AddInteger(line.get(), "extract", extract);
    } else {
        cJSON_AddNullToObject(line.get(), "extract");
    }
    PrintLine(line);
}

void PrintFinish(ZipResult finished, int32_t index) {
    Json line(cJSON_CreateObject());
    AddInteger(line.get(), "finish", finished);
    AddInteger(line.get(), "index", index);
    PrintLine(line);
}

void PrintOpen(ZipResult opened, int32_t count) {
    Json line(cJSON_CreateObject());
    AddInteger(line.get(), "open", opened);
    AddInteger(line.get(), "count", count);
    PrintLine(line);
}

// Runs the stages' sequence; baseDir is null when only listing.
int Run(const wchar_t* archive, const wchar_t* baseDir) {
    bool allOk = true;
    ZipHandle handle = ZipOpen(archive);
    const ZipResult opened = ZipLastResult();
    allOk = allOk && opened == ZipOk;
    if (handle == nullptr) {
        PrintOpen(opened, 0);
        return kExitFailed;
    }
    if (baseDir != nullptr) allOk = ZipSetBaseDir(handle, baseDir) == ZipOk && allOk;
    ZipEntryInfo entry = {};
    allOk = ZipGetEntry(handle, -1, &entry) == ZipOk && allOk;
    const int32_t count = entry.index;
    PrintOpen(opened, count);
    for (int32_t i = 0; i < count; ++i) {
        // A failed query leaves the record as it was: show empty fields.
        entry = ZipEntryInfo{};
        const ZipResult get = ZipGetEntry(handle, i, &entry);
        ZipResult extract = ZipOk;
        if (baseDir != nullptr) extract = ZipExtractEntry(handle, i, entry.name);
        allOk = allOk && get == ZipOk && extract == ZipOk;
        PrintEntry(i, get, entry, baseDir != nullptr, extract);
    }
    // Files are closed on threads of their own: a failure there comes last.
    int32_t failed = -1;
    const ZipResult finished = ZipFinishFiles(handle, &failed);
    if (finished != ZipOk) PrintFinish(finished, failed);
    allOk = allOk && finished == ZipOk;
    allOk = ZipClose(handle) == ZipOk && allOk;
    return allOk ? kExitOk : kExitFailed;
}

int Main(int argc, const std::wstring* args) {
    if (argc == 2 && args[1] == L"--help") {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (argc < 2 || argc > 3 || (!args[1].empty() && args[1][0] == L'-')) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    return Run(args[1].c_str(), argc == 3 ? args[2].c_str() : nullptr);
}

}  // namespace

}  // namespace qorv

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    // JSON Lines end in "\n" alone on every platform.
    _setmode(_fileno(stdout), _O_BINARY);
    std::wstring args[3];
    for (int i = 0; i < argc && i < 3; ++i) args[i] = argv[i];
    return qorv::Main(argc, args);
}
#else
int main(int argc, char** argv) {
    std::wstring args[3];
    for (int i = 0; i < argc && i < 3; ++i) args[i] = qorv::Utf8ToUtf16(argv[i], strlen(argv[i]));
    return qorv::Main(argc, args);
}
#endif

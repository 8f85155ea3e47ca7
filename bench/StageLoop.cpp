// The cost of staging durably: unpacks every entry through the zip layer as
// the apply drives it, with no flush ("plain"), each file flushed before its
// close on the layer's own threads ("pool", what the apply does), or every
// file flushed by path once all are written ("batch", what it did before).
// Usage: zip-stage-loop ARCHIVE BASEDIR plain|pool|batch
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "services/FileSystem.h"
#include "services/Text.h"
#include "services/zip/ZipExtract.h"

using namespace qorv;

int main(int argc, char** argv) {
    const std::string mode = argc == 4 ? argv[3] : "";
    if (mode != "plain" && mode != "pool" && mode != "batch") {
        fputs("usage: zip-stage-loop ARCHIVE BASEDIR plain|pool|batch\n", stderr);
        return 2;
    }
    const std::wstring base = Utf8ToUtf16(argv[2]);
    ZipHandle archive = ZipOpen(Utf8ToUtf16(argv[1]).c_str());
    if (archive == nullptr || ZipSetBaseDir(archive, base.c_str()) != ZipOk) return 1;
    ZipSetDurable(archive, mode == "pool");
    ZipEntryInfo entry{};
    ZipGetEntry(archive, -1, &entry);
    const int32_t count = entry.index;
    std::vector<std::wstring> files;
    int failures = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (ZipGetEntry(archive, i, &entry) != ZipOk ||
            ZipExtractEntry(archive, i, entry.name) != ZipOk) {
            ++failures;
        } else if ((entry.attributes & kZipAttrDirectory) == 0) {
            files.push_back(AppendPath(base, entry.name));
        }
    }
    if (ZipClose(archive) != ZipOk) ++failures;
    if (mode == "batch") {
        for (const std::wstring& file : files) {
            if (FlushFile(file) != S_OK) ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

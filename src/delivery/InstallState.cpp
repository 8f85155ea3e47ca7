#include "delivery/InstallState.h"

#include <cstdio>
#include <cstring>

#include "InstallNames.h"
#include "services/LocalFile.h"
#include "services/TextFile.h"

namespace qorv {

namespace {

// Text lines, so that support can read one:
//   qorv-state 1
//   version <hex of the version text>
//   directory <64 hex digits>
//   applying 0|1
//   entry <hex of the name> <crc> <size> <attributes> <disk size> <disk time> <staged>
//   ...
//   remove <hex of a path>
//   ...
//   leftover <hex of a path>
//   ...
//   end <number of entries>
// where <staged> is "-" (nothing waits), "/" (a folder to make) or the hex
// of the waiting file's path.
constexpr char kMagic[] = "qorv-state 1";
// Far beyond any package's: a larger file is not ours.
constexpr uint64_t kMaxStateBytes = 256ull * 1024 * 1024;

void AppendHex(const unsigned char* bytes, size_t size, std::string* out) {
    static const char kDigits[] = "0123456789abcdef";
    if (size == 0) out->push_back('-');  // a field is never empty
    for (size_t i = 0; i < size; ++i) {
        out->push_back(kDigits[bytes[i] >> 4]);
        out->push_back(kDigits[bytes[i] & 15]);
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    bytes->clear();
    if (text == "-") return true;
    if (text.empty() || text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (limit - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

// Splits line at single spaces into exactly count fields.
bool SplitFields(const std::string& line, size_t count, std::vector<std::string>* fields) {
    fields->clear();
    size_t at = 0;
    for (;;) {
        const size_t space = line.find(' ', at);
        fields->push_back(line.substr(at, space == std::string::npos ? space : space - at));
        if (space == std::string::npos) break;
        at = space + 1;
    }
    return fields->size() == count;
}

bool ParseEntry(const std::vector<std::string>& fields, InstalledEntry* entry) {
    uint64_t crc = 0;
    uint64_t attributes = 0;
    if (fields[0] != "entry" || !ParseHex(fields[1], &entry->name) || entry->name.empty() ||
        !ParseNumber(fields[2], UINT32_MAX, &crc) ||
        !ParseNumber(fields[3], UINT64_MAX, &entry->size) ||
        !ParseNumber(fields[4], UINT32_MAX, &attributes) ||
        !ParseNumber(fields[5], UINT64_MAX, &entry->diskSize) ||
        !ParseNumber(fields[6], UINT64_MAX, &entry->diskTime)) {
        return false;
    }
    if (fields[7] == kMakeFolder) {
        entry->staged = kMakeFolder;
    } else if (!ParseHex(fields[7], &entry->staged)) {
        return false;
    }
    entry->crc = static_cast<uint32_t>(crc);
    entry->attributes = static_cast<uint32_t>(attributes);
    return true;
}

}  // namespace

bool ReadInstallState(const std::wstring& path, InstallState* state) {
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, kMaxStateBytes, &bytes)) return false;
    const std::string text(bytes.begin(), bytes.end());
    InstallState read;
    std::vector<std::string> fields;
    size_t at = 0;
    size_t lineNumber = 0;
    bool ended = false;
    while (at < text.size() && !ended) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        std::string value;
        switch (lineNumber++) {
            case 0:
                if (line != kMagic) return false;
                break;
            case 1:
                if (!SplitFields(line, 2, &fields) || fields[0] != "version" ||
                    !ParseHex(fields[1], &read.version) ||
                    read.version.size() > kMaxTextFileBytes) {
                    return false;
                }
                break;
            case 2:
                if (!SplitFields(line, 2, &fields) || fields[0] != "directory" ||
                    !ParseHex(fields[1], &value) || value.size() != read.directory.size()) {
                    return false;
                }
                memcpy(read.directory.data(), value.data(), value.size());
                break;
            case 3:
                if (line != "applying 0" && line != "applying 1") return false;
                read.applying = line == "applying 1";
                break;
            default: {
                uint64_t count = 0;
                if (SplitFields(line, 2, &fields) && fields[0] == "end") {
                    if (!ParseNumber(fields[1], UINT64_MAX, &count) ||
                        count != read.entries.size()) {
                        return false;
                    }
                    ended = true;
                    break;
                }
                if (SplitFields(line, 2, &fields) &&
                    (fields[0] == "remove" || fields[0] == "leftover")) {
                    if (!ParseHex(fields[1], &value) || value.empty()) return false;
                    (fields[0] == "remove" ? read.removals : read.leftovers).push_back(value);
                    break;
                }
                InstalledEntry entry;
                if (!SplitFields(line, 8, &fields) || !ParseEntry(fields, &entry)) return false;
                read.entries.push_back(entry);
            }
        }
    }
    if (!ended || at != text.size()) return false;
    *state = std::move(read);
    return true;
}

bool WriteInstallState(const InstallState& state, const std::wstring& path) {
    std::string text = kMagic;
    text += "\nversion ";
    AppendHex(reinterpret_cast<const unsigned char*>(state.version.data()), state.version.size(),
              &text);
    text += "\ndirectory ";
    AppendHex(state.directory.data(), state.directory.size(), &text);
    text += state.applying ? "\napplying 1\n" : "\napplying 0\n";
    char numbers[128];
    for (const InstalledEntry& entry : state.entries) {
        text += "entry ";
        AppendHex(reinterpret_cast<const unsigned char*>(entry.name.data()), entry.name.size(),
                  &text);
        snprintf(numbers, sizeof(numbers), " %lu %llu %lu %llu %llu ",
                 static_cast<unsigned long>(entry.crc), static_cast<unsigned long long>(entry.size),
                 static_cast<unsigned long>(entry.attributes),
                 static_cast<unsigned long long>(entry.diskSize),
                 static_cast<unsigned long long>(entry.diskTime));
        text += numbers;
        if (entry.staged == kMakeFolder) {
            text += kMakeFolder;
        } else {
            AppendHex(reinterpret_cast<const unsigned char*>(entry.staged.data()),
                      entry.staged.size(), &text);
        }
        text += '\n';
    }
    for (const std::string& removal : state.removals) {
        text += "remove ";
        AppendHex(reinterpret_cast<const unsigned char*>(removal.data()), removal.size(), &text);
        text += '\n';
    }
    for (const std::string& leftover : state.leftovers) {
        text += "leftover ";
        AppendHex(reinterpret_cast<const unsigned char*>(leftover.data()), leftover.size(), &text);
        text += '\n';
    }
    snprintf(numbers, sizeof(numbers), "end %llu\n",
             static_cast<unsigned long long>(state.entries.size()));
    text += numbers;
    return KeepFile(std::vector<unsigned char>(text.begin(), text.end()), path + kNewFileSuffix,
                    path);
}

}  // namespace qorv

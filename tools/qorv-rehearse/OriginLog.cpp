#include "OriginLog.h"

#include <fstream>
#include <sstream>

namespace qorv {

namespace {

// The file a request line asks for: its path's last name, query dropped.
std::string RequestedName(const std::string& request) {
    std::istringstream words(request);
    std::string method;
    std::string target;
    words >> method >> target;
    target = target.substr(0, target.find('?'));
    return target.substr(target.rfind('/') + 1);
}

OriginFile* FileOf(const std::string& name, OriginServed* served) {
    if (name == "shell.zip") return &served->shell;
    if (name == "GameClient.zip") return &served->client;
    if (name == "pkg.ver") return &served->version;
    return nullptr;
}

}  // namespace

uint64_t LogSize(const std::string& path) {
    std::ifstream log(path, std::ios::binary | std::ios::ate);
    return log ? static_cast<uint64_t>(log.tellg()) : 0;
}

bool ReadOriginLog(const std::string& path, uint64_t offset, OriginServed* served) {
    std::ifstream log(path, std::ios::binary);
    if (!log || !log.seekg(static_cast<std::streamoff>(offset))) return false;
    std::string line;
    while (std::getline(log, line)) {
        const size_t open = line.find('"');
        const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close == std::string::npos) continue;
        OriginFile* file = FileOf(RequestedName(line.substr(open + 1, close - open - 1)), served);
        std::istringstream rest(line.substr(close + 1));
        unsigned status = 0;
        uint64_t bytes = 0;
        if (file == nullptr || !(rest >> status >> bytes)) continue;
        file->bytes += bytes;
        ++file->requests;
    }
    return true;
}

}  // namespace qorv

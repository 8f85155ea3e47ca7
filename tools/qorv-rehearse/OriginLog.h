// What the origin served, from its nginx access log: for each of the
// resource server's three files, the requests and the body bytes. Any
// format whose request line is the first quoted field, followed by the
// status and $body_bytes_sent (nginx's default "combined" is one), reads.
#pragma once

#include <cstdint>
#include <string>

namespace qorv {

struct OriginFile {
    uint64_t bytes = 0;
    uint32_t requests = 0;
};

struct OriginServed {
    OriginFile shell;
    OriginFile client;
    OriginFile version;
};

// The log's size now: where the lines of what follows begin.
uint64_t LogSize(const std::string& path);

// Counts the lines of the log at path from offset on; false when it cannot
// be read.
bool ReadOriginLog(const std::string& path, uint64_t offset, OriginServed* served);

}  // namespace qorv

#include "services/TextMode.h"

namespace qorv {

std::string TextModeBytes(const std::string& raw) {
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\x1a') break;
        if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text.push_back(c);
    }
    return text;
}

}  // namespace qorv

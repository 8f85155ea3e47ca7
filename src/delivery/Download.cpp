#include "delivery/Download.h"

#include <random>
#include <string>
#include <vector>

#include "InstallNames.h"
#include "delivery/Apply.h"
#include "delivery/EntryPlan.h"
#include "services/FileSystem.h"
#include "services/Text.h"

namespace qorv {

namespace {

constexpr uint32_t kReadSize = 64 * 1024;
constexpr uint32_t kFirstPauseMs = 400;
constexpr uint32_t kStatusPartial = 206;
constexpr uint32_t kStatusNotFound = 404;
constexpr uint32_t kStatusRangeNotSatisfiable = 416;
constexpr uint64_t kMaxTagBytes = 8192;

HRESULT StatusResult(uint32_t status) {
    if (status == kStatusNotFound) return kResultNotFound;
    if (status < 200 || status >= 300) return kResultDownloadFailed;
    return S_OK;
}

std::wstring WithoutQuery(const std::wstring& url) {
    return url.substr(0, url.find(L'?'));
}

uint32_t RandomValue() {
    return std::random_device{}();
}

// The resume tag: the URL, the validator and the length, a line each.
bool ReadTag(const std::wstring& path, std::wstring* url, RemoteFile* remote) {
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, kMaxTagBytes, &bytes)) return false;
    const std::string text(bytes.begin(), bytes.end());
    std::string lines[3];
    size_t at = 0;
    for (std::string& line : lines) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos || end == at) return false;
        line = text.substr(at, end - at);
        at = end + 1;
    }
    if (at != text.size() || lines[2].size() > 10) return false;
    uint64_t total = 0;
    for (char c : lines[2]) {
        if (c < '0' || c > '9') return false;
        total = total * 10 + static_cast<uint64_t>(c - '0');
    }
    if (total == 0 || total > kMaxFileBytes) return false;
    *url = Utf8ToUtf16(lines[0].data(), lines[0].size());
    remote->validator = Utf8ToUtf16(lines[1].data(), lines[1].size());
    remote->total = total;
    return true;
}

bool WriteTag(const std::wstring& path, const std::wstring& url, const RemoteFile& remote) {
    const std::string text = Utf16ToUtf8(url) + "\n" + Utf16ToUtf8(remote.validator) + "\n" +
                             std::to_string(remote.total) + "\n";
    LocalFile file;
    return file.Open(path, LocalFile::Mode::kTruncate) == S_OK &&
           file.WriteAt(0, text.data(), text.size()) == S_OK;
}

// How a body read ended when it did not end whole.
struct BodyEnd {
    uint64_t written = 0;  // bytes now in the file, from the offset on
    bool broke = false;    // the transfer broke: it may be continued
};

// Reads the open answer's body into file from offset on, reporting through
// progress after every read. More than limit bytes (the answer's length, or
// the download's cap when it sent none) fail as too large before any of them
// is written. The bytes that came before a break are written too, so they
// count.
HRESULT ReadBody(Transport& transport, LocalFile& file, uint64_t offset, uint64_t limit,
                 ProgressCount* progress, DeliveryObserver& observer, BodyEnd* end) {
    // One report per read of up to 64 KiB, written when the buffer is full:
    // a transport hands out small pieces (Wine: 8 KiB), and a report per
    // piece would cost a trace and a repaint each.
    std::vector<unsigned char> buffer(kReadSize);
    uint32_t filled = 0;
    uint64_t received = 0;
    HRESULT result = S_OK;
    for (;;) {
        if (filled == kReadSize) {
            const HRESULT written = file.WriteAt(offset + end->written, buffer.data(), filled);
            if (written != S_OK) return written;
            end->written += filled;
            filled = 0;
        }
        uint32_t read = 0;
        result = transport.Read(buffer.data() + filled, kReadSize - filled, &read);
        if (result != S_OK) {
            end->broke = true;
            break;
        }
        if (read == 0) break;
        received += read;
        if (received > limit) return kResultTooLarge;
        filled += read;
        progress->done += read;
        observer.Progress(progress->done, progress->total);
    }
    if (filled > 0) {
        const HRESULT written = file.WriteAt(offset + end->written, buffer.data(), filled);
        if (written != S_OK) {
            end->broke = false;
            return written;
        }
        end->written += filled;
    }
    return result;
}

// True when answer carries exactly bytes first..last of a file of total bytes.
bool IsExactRange(const HttpAnswer& answer, uint64_t first, uint64_t last, uint64_t total) {
    uint64_t gotFirst = 0;
    uint64_t gotLast = 0;
    uint64_t gotTotal = 0;
    return answer.status == kStatusPartial &&
           ParseContentRange(answer.contentRange, &gotFirst, &gotLast, &gotTotal) &&
           gotFirst == first && gotLast == last && gotTotal == total && answer.lengthKnown &&
           answer.length == last - first + 1;
}

}  // namespace

uint32_t ContinuationPause(int continuation, uint32_t random) {
    const uint32_t base = kFirstPauseMs << continuation;
    return base - base / 4 + random % (base / 2 + 1);
}

std::wstring ValidatorOf(const HttpAnswer& answer) {
    // A weak tag may not be used in If-Range; the date may.
    if (!answer.etag.empty() && answer.etag.compare(0, 2, L"W/") != 0) return answer.etag;
    return answer.lastModified;
}

bool ParseContentRange(const std::wstring& text, uint64_t* first, uint64_t* last, uint64_t* total) {
    const wchar_t* c = text.c_str();
    if (text.compare(0, 6, L"bytes ") != 0) return false;
    c += 6;
    uint64_t* fields[] = {first, last, total};
    const wchar_t ends[] = {L'-', L'/', L'\0'};
    for (int i = 0; i < 3; ++i) {
        if (*c < L'0' || *c > L'9') return false;
        uint64_t value = 0;
        for (; *c >= L'0' && *c <= L'9'; ++c) {
            if (value > kMaxFileBytes) return false;
            value = value * 10 + static_cast<uint64_t>(*c - L'0');
        }
        if (*c != ends[i]) return false;
        if (i < 2) ++c;
        *fields[i] = value;
    }
    return *first <= *last && *last < *total && *total <= kMaxFileBytes;
}

bool HasWholeCopy(const std::wstring& url, const std::wstring& path) {
    RemoteFile remote;
    std::wstring taggedUrl;
    const FileFacts whole = ReadFileFacts(path);
    return ReadTag(path + kResumeSuffix, &taggedUrl, &remote) && taggedUrl == WithoutQuery(url) &&
           whole.exists && !whole.directory && whole.size == remote.total;
}

HRESULT DownloadWhole(Transport& transport, const std::wstring& url, const std::wstring& path,
                      DeliveryObserver& observer, uint64_t* bytesNeeded) {
    return DownloadUpTo(transport, url, path, kMaxFileBytes, observer, bytesNeeded);
}

HRESULT DownloadUpTo(Transport& transport, const std::wstring& url, const std::wstring& path,
                     uint64_t maxBytes, DeliveryObserver& observer, uint64_t* bytesNeeded) {
    const std::wstring partPath = path + kDownloadSuffix;
    const std::wstring tagPath = path + kResumeSuffix;
    const std::wstring identity = WithoutQuery(url);
    // What an earlier try left of this URL's file: a partial copy, or a
    // whole one the run was killed before using, which is confirmed the same
    // way by asking for its last byte again.
    RemoteFile remote;
    std::wstring taggedUrl;
    uint64_t have = 0;
    if (ReadTag(tagPath, &taggedUrl, &remote) && taggedUrl == identity &&
        remote.total <= maxBytes) {
        FileFacts part = ReadFileFacts(partPath);
        const FileFacts whole = ReadFileFacts(path);
        if (!part.exists && whole.exists && !whole.directory && whole.size == remote.total &&
            MoveOver(path, partPath) == S_OK) {
            part = ReadFileFacts(partPath);
        }
        if (part.exists && !part.directory && part.size <= remote.total) have = part.size;
    }
    LocalFile file;
    HRESULT hr =
        file.Open(partPath, have > 0 ? LocalFile::Mode::kUpdate : LocalFile::Mode::kTruncate);
    if (hr != S_OK) return hr;
    if (have == 0) DeleteOneFile(tagPath);

    bool resumable = have > 0;
    bool askedWhole = have == 0;  // a range answer that does not fit gets one whole request
    int continuations = 0;
    for (;;) {
        HttpRequest request;
        request.url = url;
        const uint64_t from = have < remote.total ? have : remote.total - 1;
        if (have > 0) {
            request.ranged = true;
            request.first = from;
            request.ifRange = remote.validator;
        }
        HttpAnswer answer;
        hr = transport.Open(request, &answer);
        if (hr == S_OK) hr = StatusResult(answer.status);
        const bool partial = hr == S_OK && answer.status == kStatusPartial;
        // Part of a file where the whole was asked for is no whole file.
        if (partial && have == 0) {
            hr = kResultDownloadFailed;
            break;
        }
        // A range answered otherwise than asked gets one request for the
        // whole file: the file shrank, a proxy in between, or a server that
        // ignores If-Range sent the rest of another file than the copy here.
        const bool refused =
            have > 0 && (partial ? !IsExactRange(answer, from, remote.total - 1, remote.total) ||
                                       ValidatorOf(answer) != remote.validator
                                 : hr != S_OK && answer.status == kStatusRangeNotSatisfiable);
        if (refused && !askedWhole) {
            askedWhole = true;
            have = 0;
            continue;
        }
        if (refused) hr = kResultDownloadFailed;
        if (hr != S_OK) break;
        uint64_t offset = from;
        if (!partial) {
            // The whole file: the first try, or the file changed since the
            // tag was taken. The old bytes go before the new tag is written.
            hr = file.Open(partPath, LocalFile::Mode::kTruncate);
            if (hr != S_OK) break;
            DeleteOneFile(tagPath);
            offset = 0;
            remote.validator = ValidatorOf(answer);
            remote.total = answer.lengthKnown ? answer.length : 0;
            if (remote.total > maxBytes) {
                hr = kResultTooLarge;
                resumable = false;
                break;
            }
            resumable = !remote.validator.empty() && remote.total > 0 &&
                        WriteTag(tagPath, identity, remote);
        }
        // Room for the body before a byte of it is read; a whole answer
        // has dropped the partial copy it replaces already.
        have = offset;
        const uint64_t coming = answer.lengthKnown ? answer.length : 0;
        if (CheckRoom(EntryParent(path), coming) != S_OK) {
            hr = kResultDiskFull;
            if (bytesNeeded != nullptr) *bytesNeeded = coming;
            break;
        }
        ProgressCount progress{offset, remote.total};
        observer.Progress(progress.done, progress.total);
        BodyEnd end;
        const uint64_t limit = answer.lengthKnown ? answer.length : maxBytes;
        hr = ReadBody(transport, file, offset, limit, &progress, observer, &end);
        have = offset + end.written;
        // The volume filled meanwhile: what arrived stays for the retry.
        if (hr == kResultDiskFull && bytesNeeded != nullptr) {
            *bytesNeeded = remote.total > have ? remote.total - have : 0;
        }
        if (hr == S_OK && answer.lengthKnown && end.written != answer.length) {
            hr = kResultDownloadFailed;  // the connection closed early
            end.broke = true;
        }
        if (hr == S_OK) break;
        if (!end.broke || end.written == 0 || !resumable || continuations == kMaxContinuations) {
            break;
        }
        observer.Pause(ContinuationPause(continuations++, RandomValue()));
    }
    file.Close();
    if (hr == S_OK) hr = MoveOver(partPath, path);
    if (hr != S_OK && !(resumable && have > 0)) {
        DeleteOneFile(partPath);
        DeleteOneFile(tagPath);
    }
    return hr;
}

void ForgetDownload(const std::wstring& path) {
    DeleteOneFile(path);
    DeleteOneFile(path + kDownloadSuffix);
    DeleteOneFile(path + kResumeSuffix);
}

HRESULT SpanFetch::Tail(uint64_t length, uint64_t* start) {
    HttpRequest request;
    request.url = m_url;
    request.ranged = true;
    request.suffix = length;
    HttpAnswer answer;
    HRESULT hr = m_transport.Open(request, &answer);
    if (hr != S_OK) return hr;
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
    if (answer.status != kStatusPartial ||
        !ParseContentRange(answer.contentRange, &first, &last, &total) ||
        !IsExactRange(answer, first, total - 1, total) ||
        last - first + 1 != (length < total ? length : total) || ValidatorOf(answer).empty()) {
        return kResultDownloadFailed;
    }
    m_remote.validator = ValidatorOf(answer);
    m_remote.total = total;
    *start = first;
    BodyEnd end;
    hr = ReadBody(m_transport, m_file, first, answer.length, &m_progress, m_observer, &end);
    if (hr == S_OK && end.written == answer.length) return S_OK;
    if (hr == S_OK) end.broke = true;
    if (!end.broke || end.written == 0) return hr != S_OK ? hr : kResultDownloadFailed;
    m_observer.Pause(ContinuationPause(0, RandomValue()));
    return Span(first + end.written, last);
}

HRESULT SpanFetch::Span(uint64_t first, uint64_t last) {
    for (int continuations = 0;; ++continuations) {
        HttpRequest request;
        request.url = m_url;
        request.ranged = true;
        request.first = first;
        request.last = last;
        request.ifRange = m_remote.validator;
        HttpAnswer answer;
        HRESULT hr = m_transport.Open(request, &answer);
        if (hr != S_OK) return hr;
        // A 200 is the whole file: the server ignores ranges, or the file
        // changed since the validator was taken. Its body is not read, nor
        // that of a 206 naming another validator (a server that ignores
        // If-Range).
        const std::wstring validator = ValidatorOf(answer);
        if (!IsExactRange(answer, first, last, m_remote.total) ||
            (!validator.empty() && validator != m_remote.validator)) {
            return kResultDownloadFailed;
        }
        BodyEnd end;
        hr = ReadBody(m_transport, m_file, first, answer.length, &m_progress, m_observer, &end);
        if (hr == S_OK && end.written == answer.length) return S_OK;
        if (hr == S_OK) end.broke = true;
        if (!end.broke || end.written == 0 || continuations == kMaxContinuations) {
            return hr != S_OK ? hr : kResultDownloadFailed;
        }
        m_observer.Pause(ContinuationPause(continuations, RandomValue()));
        first += end.written;
    }
}

}  // namespace qorv

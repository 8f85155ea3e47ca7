// Bytes over a Transport into files: a whole file that continues where an
// earlier try stopped, and spans of a file known by its validator. Both go
// on after a transfer breaks once bytes have arrived.
#pragma once

#include <cstdint>
#include <string>

#include "delivery/DeliveryObserver.h"
#include "delivery/Transport.h"
#include "services/LocalFile.h"

namespace qorv {

// How often one transfer is continued after it broke with bytes arrived.
constexpr int kMaxContinuations = 5;

// The longest file a download takes: what the stages' 32-bit progress
// counters can carry.
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFF;

// The pause before continuation n (0 for the first): 400 ms doubling each
// time, shifted by up to a quarter either way as random says, so that many
// players cut off together do not all ask again at once.
uint32_t ContinuationPause(int continuation, uint32_t random);

// A file at a URL as one answer described it: what a span request must
// match (If-Range) and how long the file is.
struct RemoteFile {
    std::wstring validator;  // the strong ETag, else Last-Modified
    uint64_t total = 0;
};

// The answer's validator: its ETag unless that is weak or missing, then its
// Last-Modified; empty when it has neither.
std::wstring ValidatorOf(const HttpAnswer& answer);

// Reads "bytes first-last/total" strictly: digits only, first <= last < total.
bool ParseContentRange(const std::wstring& text, uint64_t* first, uint64_t* last, uint64_t* total);

// Brings the file at url to path. The body goes to path + ".part"; beside it
// path + ".resume" keeps the URL (without its query), the answer's validator
// and its length, so that a later try asks only for the rest (Range and
// If-Range) and appends it when the server answers with exactly that range
// of that length under that validator; any other answer starts from zero,
// and an answer without a validator or a length is never resumed. A 206 to a
// request for the whole file fails. A copy completed before (the tag still beside
// path) is confirmed by asking for its last byte. A transfer that breaks
// once bytes have arrived goes on from there, up to kMaxContinuations times,
// with a pause between; one that fails otherwise (an error status, no
// answer) ends the download. On S_OK path holds the whole body (all of
// Content-Length, when sent) and the tag stays until ForgetDownload; a
// failure leaves path untouched and keeps the partial copy only when it can
// be resumed. Progress counts the file's bytes, from those already here.
// A file longer than kMaxFileBytes, by its length or by the bytes that come
// without one, fails with kResultTooLarge. An answer whose length does not
// fit the free space of path's volume fails with kResultDiskFull before its
// body is read, as does a write that finds the volume full; *bytesNeeded
// (when given) then gets the bytes still to come.
[[nodiscard]] HRESULT DownloadWhole(Transport& transport, const std::wstring& url,
                                    const std::wstring& path, DeliveryObserver& observer,
                                    uint64_t* bytesNeeded = nullptr);

// DownloadWhole of a file that may be at most maxBytes long (at most
// kMaxFileBytes): a longer one fails with kResultTooLarge and keeps nothing.
[[nodiscard]] HRESULT DownloadUpTo(Transport& transport, const std::wstring& url,
                                   const std::wstring& path, uint64_t maxBytes,
                                   DeliveryObserver& observer, uint64_t* bytesNeeded = nullptr);

// True when a whole copy of url's file that an earlier try kept is at path
// (its tag still beside it): the next DownloadWhole only confirms it.
bool HasWholeCopy(const std::wstring& url, const std::wstring& path);

// Deletes a downloaded file with what was kept to resume it: the partial
// copy and its tag.
void ForgetDownload(const std::wstring& path);

// The bytes a delivery counts through: done of total.
struct ProgressCount {
    uint64_t done = 0;
    uint64_t total = 0;
};

// Spans of one file at a URL, fetched into a local copy at their own
// offsets (a package's sparse copy). The tail comes first: it tells the
// file's validator and size, which every later span must still match.
// Progress is counted through the one ProgressCount, whose total the
// caller sets for what it shows.
class SpanFetch {
public:
    SpanFetch(Transport& transport, const std::wstring& url, LocalFile& file,
              DeliveryObserver& observer)
        : m_transport(transport), m_url(url), m_file(file), m_observer(observer) {}

    // The file's last length bytes (all of it when shorter); *start gets the
    // offset of the first one.
    [[nodiscard]] HRESULT Tail(uint64_t length, uint64_t* start);
    // Bytes first..last; only an answer with exactly those bytes of the same
    // file counts: a 206 that names a validator must name the tail's.
    [[nodiscard]] HRESULT Span(uint64_t first, uint64_t last);

    const RemoteFile& remote() const { return m_remote; }
    ProgressCount& progress() { return m_progress; }

private:
    Transport& m_transport;
    const std::wstring m_url;
    LocalFile& m_file;
    DeliveryObserver& m_observer;
    RemoteFile m_remote;
    ProgressCount m_progress;
};

}  // namespace qorv

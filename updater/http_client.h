// The updater's only network facility: one blocking HTTP request per call
// over libcurl's easy interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace updater {

struct HttpResponse {
    // Status of the last response; 28 after a time-out; -1 after any other
    // transfer failure.
    std::int32_t code = 0;
    // In-memory answers only; the failure text after a transfer failure.
    std::string body;
    // Name to value, case-sensitive; a status line is a name with the value "present".
    std::map<std::string, std::string> headers;
    // Downloads only: the transfer ended normally and the file was opened,
    // took every byte of the body and was closed without error.
    bool savedWhole = false;
};

// An answer held in memory never grows past this; a longer one is abandoned
// as a failed transfer. Downloads go to disk and have no such bound.
inline constexpr std::size_t kMaxBodyInMemory = 4 * 1024 * 1024;

// A stalled connection must not hold the updater's schedule forever, while a
// slow download that keeps moving is never cut.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    long lowSpeedBytesPerSecond = 1;
    long lowSpeedSeconds = 60;
};

class HttpClient {
public:
    // Throws std::runtime_error("Couldn't initialize curl handle") when the
    // library has no handle to give.
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    HttpResponse get(const std::string& url);
    // `body` is sent whole, NUL bytes included.
    HttpResponse post(const std::string& url, const std::string& body);
    // Appends the body to the file at `path` (ANSI code page); the file is
    // created, empty, before the transfer, and kept whatever happens.
    HttpResponse download(const std::string& url, const std::string& path);
    // Turns redirect following on for this and every later request.
    HttpResponse downloadFollowingRedirects(const std::string& url, const std::string& path);

    // Sent as "name: value" with every later request.
    void setRequestHeader(const std::string& name, const std::string& value);
    void setTransferLimits(const TransferLimits& limits) { limits_ = limits; }

private:
    HttpResponse perform(const std::string& url, const std::string* path);

    void* handle_;
    std::map<std::string, std::string> requestHeaders_;
    bool followRedirects_ = false;
    TransferLimits limits_;
};

// Callbacks handed to the library: a data pointer, an item size and count in,
// the number of bytes (or items) consumed out.
std::size_t appendBodyChunk(char* data, std::size_t size, std::size_t count, void* response);
std::size_t writeBodyChunk(char* data, std::size_t size, std::size_t count, void* file);
std::size_t storeHeaderLine(char* data, std::size_t size, std::size_t count, void* response);

// One request each, on a client of its own: nothing outlives the call.
HttpResponse httpGet(const std::string& url);
HttpResponse httpPost(const std::string& url, const std::string& contentType, const std::string& body);
// Follows redirects.
HttpResponse httpDownload(const std::string& url, const std::string& path);

}  // namespace updater

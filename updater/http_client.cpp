#include "updater/http_client.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "updater/identity.h"

namespace updater {

namespace {

constexpr long kReceiveBuffer = 100 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct HeaderListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

// Only these six count; bytes of 0x80 and above never do.
bool isTrimSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isTrimSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isTrimSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::size_t appendBodyChunk(char* data, std::size_t size, std::size_t count, void* response) {
    auto& body = static_cast<HttpResponse*>(response)->body;
    const std::size_t bytes = size * count;
    // Anything short of `bytes` makes the library abandon the transfer.
    if (bytes > kMaxBodyInMemory - body.size()) return 0;
    body.append(data, bytes);
    return bytes;
}

std::size_t writeBodyChunk(char* data, std::size_t size, std::size_t count, void* file) {
    if (file == nullptr) return size * count;
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

std::size_t storeHeaderLine(char* data, std::size_t size, std::size_t count, void* response) {
    auto& headers = static_cast<HttpResponse*>(response)->headers;
    const std::string_view line(data, size * count);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        if (const auto whole = trim(line); !whole.empty()) headers[std::string(whole)] = "present";
    } else {
        headers[std::string(trim(line.substr(0, colon)))] = std::string(trim(line.substr(colon + 1)));
    }
    return size * count;
}

HttpClient::HttpClient() : handle_(curl_easy_init()) {
    if (handle_ == nullptr) throw std::runtime_error("Couldn't initialize curl handle");
}

HttpClient::~HttpClient() { curl_easy_cleanup(handle_); }

void HttpClient::setRequestHeader(const std::string& name, const std::string& value) { requestHeaders_[name] = value; }

HttpResponse HttpClient::get(const std::string& url) { return perform(url, nullptr); }

HttpResponse HttpClient::post(const std::string& url, const std::string& body) {
    curl_easy_setopt(handle_, CURLOPT_POST, 1L);
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return perform(url, nullptr);
}

HttpResponse HttpClient::download(const std::string& url, const std::string& path) { return perform(url, &path); }

HttpResponse HttpClient::downloadFollowingRedirects(const std::string& url, const std::string& path) {
    followRedirects_ = true;
    return download(url, path);
}

HttpResponse HttpClient::perform(const std::string& url, const std::string* path) {
    // A file that cannot be opened does not stop the transfer; its body is dropped.
    FilePtr file;
    if (path != nullptr) file.reset(std::fopen(path->c_str(), "ab+"));

    HttpResponse response;
    CURL* curl = handle_;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (path != nullptr) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBodyChunk);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, file.get());
    } else {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBodyChunk);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, storeHeaderLine);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);

    HeaderList requestHeaders;
    for (const auto& [name, value] : requestHeaders_) {
        const std::string line = name + ": " + value;
        curl_slist* extended = curl_slist_append(requestHeaders.get(), line.c_str());
        if (extended == nullptr) break;
        requestHeaders.release();
        requestHeaders.reset(extended);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, requestHeaders.get());
    const std::string userAgent = buildUserAgent();
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    if (followRedirects_) curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);

    // Plain HTTP on every build, redirects included, whatever else the
    // library could speak.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Larger reads mean fewer callbacks and writes on a long download; the
    // curl command line reads the same size.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits_.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits_.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits_.lowSpeedSeconds);

    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        response.code = static_cast<std::int32_t>(status);
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        response.code = 28;
        response.body = "Operation Timeout.";
    } else {
        response.code = -1;
        response.body = "Failed to query.";
    }

    // Closing writes what the library still buffers; a full disk shows here too.
    const bool opened = file != nullptr;
    const bool closed = opened && std::fclose(file.release()) == 0;
    response.savedWhole = result == CURLE_OK && opened && closed;
    requestHeaders.reset();
    // The next request of this client starts from the library's defaults.
    curl_easy_reset(curl);
    return response;
}

HttpResponse httpGet(const std::string& url) {
    HttpClient client;
    return client.get(url);
}

HttpResponse httpPost(const std::string& url, const std::string& contentType, const std::string& body) {
    HttpClient client;
    client.setRequestHeader("Content-Type", contentType);
    return client.post(url, body);
}

HttpResponse httpDownload(const std::string& url, const std::string& path) {
    HttpClient client;
    return client.downloadFollowingRedirects(url, path);
}

}  // namespace updater

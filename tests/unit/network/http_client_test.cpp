// The HTTP client against a real local server (tests/http_server), which the
// test run starts and names in ORVANE_TEST_HTTP_PORT.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "updater/http_client.h"
#include "tests/unit/support/test_folder.h"

using namespace updater;

namespace {

namespace fs = std::filesystem;

std::string server(const std::string& path) {
    const char* port = std::getenv("ORVANE_TEST_HTTP_PORT");
    return std::string("http://127.0.0.1:") + (port != nullptr ? port : "0") + path;
}

// Nothing listens on port 1 of the loopback interface.
const std::string kUnreachable = "http://127.0.0.1:1/";

// The server's generated bodies: every byte value, NUL included, repeated.
std::string patternBytes(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>(i % 256);
    return out;
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("ORVANE_TEST_HTTP_PORT"), nullptr) << "run through tests/http_server/http_server.py wrap";
    }

    std::string file(const char* name) const { return (folder_.path() / name).string(); }

    ScratchFolder folder_{"orvane-http-"};
};

TEST_F(HttpClientTest, PostSendsTheWholeBodyWithItsContentTypeAndUserAgent) {
    const std::string body("{\"a\":\0\"b\"}\0tail", 15);
    const HttpResponse r = httpPost(server("/echo"), "application/json", body);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.headers.at("X-Echo-Method"), "POST");
    EXPECT_EQ(r.headers.at("X-Echo-Body-Length"), "15");
    EXPECT_EQ(r.headers.at("X-Echo-Content-Type"), "application/json");
    EXPECT_TRUE(r.headers.at("X-Echo-User-Agent").starts_with("Tovrin/1 PC/1 ")) << r.headers.at("X-Echo-User-Agent");
    EXPECT_NE(r.headers.at("X-Echo-User-Agent").find(" Halvex/1.2.0 ID/"), std::string::npos);
    // Only the server's headers come back, never the request's own.
    EXPECT_EQ(r.headers.count("Content-Type"), 0u);
}

TEST_F(HttpClientTest, GetKeepsABodyWithNulBytes) {
    const HttpResponse r = httpGet(server("/bytes?size=1000"));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.body, patternBytes(1000));
    EXPECT_EQ(r.headers.at("HTTP/1.0 200 OK"), "present");
}

TEST_F(HttpClientTest, ErrorStatusIsAnAnswerWithItsBody) {
    const HttpResponse r = httpGet(server("/status?code=503&body=busy"));
    EXPECT_EQ(r.code, 503);
    EXPECT_EQ(r.body, "busy");
}

TEST_F(HttpClientTest, RedirectIsNotFollowedByGetOrPost) {
    const HttpResponse get = httpGet(server("/redirect?hops=2&code=301"));
    EXPECT_EQ(get.code, 301);
    EXPECT_EQ(get.body, "moved 2");
    EXPECT_EQ(get.headers.at("Location"), "/redirect?hops=1&code=301");

    const HttpResponse post = httpPost(server("/redirect?hops=1&code=302"), "text/plain", "x");
    EXPECT_EQ(post.code, 302);
    EXPECT_EQ(post.body, "moved 1");
}

TEST_F(HttpClientTest, DownloadFollowsRedirectsAndKeepsTheHeadersOfTheWholeChain) {
    const HttpResponse r = httpDownload(server("/redirect?hops=3&code=302"), file("out"));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(readBytes(file("out")), "arrived");
    for (const char* hop : {"X-Hop-3", "X-Hop-2", "X-Hop-1"}) EXPECT_EQ(r.headers.at(hop), "seen") << hop;
    EXPECT_EQ(r.headers.at("X-Hop"), "last");
    EXPECT_EQ(r.headers.at("HTTP/1.0 302 Found"), "present");
    EXPECT_EQ(r.headers.at("HTTP/1.0 200 OK"), "present");
}

TEST_F(HttpClientTest, DownloadAppendsToAnExistingFile) {
    std::ofstream(file("out"), std::ios::binary) << "old content|";
    const HttpResponse r = httpDownload(server("/bytes?size=3000"), file("out"));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(readBytes(file("out")), "old content|" + patternBytes(3000));
    EXPECT_TRUE(r.savedWhole);
}

TEST_F(HttpClientTest, DownloadOfAMissingPageAppendsTheErrorPage) {
    const HttpResponse r = httpDownload(server("/status?code=404&body=no+such+installer"), file("out"));
    EXPECT_EQ(r.code, 404);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(readBytes(file("out")), "no such installer");
    // Saved whole: the status is the caller's to judge.
    EXPECT_TRUE(r.savedWhole);
}

TEST_F(HttpClientTest, DownloadThatCannotConnectLeavesAnEmptyFile) {
    const HttpResponse r = httpDownload(kUnreachable + "installer", file("out"));
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.body, "Failed to query.");
    ASSERT_TRUE(fs::exists(file("out")));
    EXPECT_EQ(fs::file_size(file("out")), 0u);
    EXPECT_FALSE(r.savedWhole);
}

TEST_F(HttpClientTest, DownloadIntoAFileThatCannotBeOpenedStillTransfers) {
    const std::string path = (folder_.path() / "missing folder" / "out").string();
    const HttpResponse r = httpDownload(server("/bytes?size=100"), path);
    EXPECT_EQ(r.code, 200);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(r.savedWhole);
}

#ifndef _WIN32
// A body small enough to wait in the file's buffer meets the full disk only
// when the file is closed.
TEST_F(HttpClientTest, DownloadTheDiskCannotHoldIsNotSaved) {
    const HttpResponse r = httpDownload(server("/bytes?size=100"), "/dev/full");
    EXPECT_EQ(r.code, 200);
    EXPECT_FALSE(r.savedWhole);
    const HttpResponse large = httpDownload(server("/bytes?size=300000"), "/dev/full");
    EXPECT_EQ(large.code, -1);
    EXPECT_FALSE(large.savedWhole);
}
#endif

TEST_F(HttpClientTest, DownloadIsNotBoundedLikeAnswersInMemory) {
    const std::size_t size = kMaxBodyInMemory + 3 * 1024 * 1024 + 17;
    const HttpResponse r = httpDownload(server("/bytes?size=" + std::to_string(size)), file("big"));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(readBytes(file("big")), patternBytes(size));
    EXPECT_TRUE(r.savedWhole);
}

TEST_F(HttpClientTest, AnswerInMemoryIsBounded) {
    const HttpResponse fits = httpGet(server("/bytes?size=" + std::to_string(kMaxBodyInMemory)));
    EXPECT_EQ(fits.code, 200);
    EXPECT_EQ(fits.body.size(), kMaxBodyInMemory);

    const HttpResponse tooLong = httpGet(server("/bytes?size=" + std::to_string(kMaxBodyInMemory + 1)));
    EXPECT_EQ(tooLong.code, -1);
    EXPECT_EQ(tooLong.body, "Failed to query.");
}

TEST_F(HttpClientTest, HeaderNamesAndValuesAreTrimmedAndCaseDistinct) {
    const HttpResponse r = httpGet(server("/headers"));
    ASSERT_EQ(r.code, 200);
    EXPECT_EQ(r.headers.at("X-Padded"), "value with  inner spaces");
    EXPECT_EQ(r.headers.at("X-Case"), "upper");
    EXPECT_EQ(r.headers.at("x-case"), "lower");
    EXPECT_EQ(r.headers.at("X-Twice"), "second");
    EXPECT_EQ(r.headers.at("X-Empty"), "");
    EXPECT_EQ(r.headers.at("X-Colons"), "a:b:c");
    EXPECT_EQ(r.headers.count(""), 0u);
}

TEST_F(HttpClientTest, FailuresComeBackAsCodesNotErrors) {
    for (const std::string& url : {kUnreachable, server("/short"), std::string("ftp://127.0.0.1/file")}) {
        const HttpResponse r = httpGet(url);
        EXPECT_EQ(r.code, -1) << url;
        EXPECT_EQ(r.body, "Failed to query.") << url;
    }
}

TEST_F(HttpClientTest, StalledTransferTimesOut) {
    HttpClient client;
    client.setTransferLimits({.connectTimeoutSeconds = 5, .lowSpeedBytesPerSecond = 1, .lowSpeedSeconds = 2});
    const HttpResponse r = client.get(server("/stall"));
    EXPECT_EQ(r.code, 28);
    EXPECT_EQ(r.body, "Operation Timeout.");
    // What arrived before the stall is replaced, the headers stay.
    EXPECT_EQ(r.headers.at("Content-Length"), "1000");
}

TEST_F(HttpClientTest, SlowTransferThatKeepsMovingIsNotCut) {
    HttpClient client;
    client.setTransferLimits({.connectTimeoutSeconds = 5, .lowSpeedBytesPerSecond = 1, .lowSpeedSeconds = 2});
    // About four seconds in all, twice the low-speed window, a byte every quarter second.
    const HttpResponse r = client.download(server("/trickle?bytes=16&gap=0.25"), file("slow"));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(readBytes(file("slow")), std::string(16, 't'));
}

TEST_F(HttpClientTest, ClientKeepsHeadersAndRedirectsButNotPostSettings) {
    HttpClient client;
    client.setRequestHeader("X-Trace", "first");
    client.setRequestHeader("X-Trace", "second");
    const HttpResponse post = client.post(server("/echo"), "payload");
    EXPECT_EQ(post.headers.at("X-Echo-Method"), "POST");
    EXPECT_EQ(post.headers.at("X-Echo-X-Trace"), "second");

    const HttpResponse get = client.get(server("/echo"));
    EXPECT_EQ(get.headers.at("X-Echo-Method"), "GET");
    EXPECT_EQ(get.body, "");
    EXPECT_EQ(get.headers.at("X-Echo-X-Trace"), "second");

    client.downloadFollowingRedirects(server("/redirect?hops=1"), file("out"));
    const HttpResponse followed = client.get(server("/redirect?hops=2"));
    EXPECT_EQ(followed.code, 200);
    EXPECT_EQ(followed.body, "arrived");
}

TEST(HttpCallbacks, HeaderLineStorage) {
    HttpResponse r;
    // Every line counts as taken, whatever is stored from it.
    auto store = [&r](std::string line) { return storeHeaderLine(line.data(), 1, line.size(), &r) == line.size(); };
    EXPECT_TRUE(store(" \t X-Name \t:\t value  kept \t\r\n"));
    EXPECT_TRUE(store("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(store("\r\n"));
    EXPECT_TRUE(store("X-High:\xA0value\xA0\r\n"));
    EXPECT_TRUE(store(":no name\r\n"));
    EXPECT_EQ(r.headers, (std::map<std::string, std::string>{{"", "no name"},
                                                              {"HTTP/1.1 200 OK", "present"},
                                                              {"X-High", "\xA0value\xA0"},
                                                              {"X-Name", "value  kept"}}));
}

TEST(HttpCallbacks, BodyChunks) {
    HttpResponse r;
    char data[] = {'a', '\0', 'b'};
    EXPECT_EQ(appendBodyChunk(data, 1, 3, &r), 3u);
    EXPECT_EQ(r.body, std::string("a\0b", 3));
    // Without a file the bytes are dropped but count as taken.
    EXPECT_EQ(writeBodyChunk(data, 1, 3, nullptr), 3u);

    // A write that falls short reports it, which makes the library give up.
    const ScratchFolder folder("orvane-http-");
    const auto path = (folder.path() / "readonly-chunk").string();
    std::ofstream(path) << "x";
    std::FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(writeBodyChunk(data, 1, 3, readOnly), 0u);
    std::fclose(readOnly);
    std::filesystem::remove(path);
}

}  // namespace

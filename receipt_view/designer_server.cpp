#include "receipt_view/designer_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receipt_view/designer.h"

// The page, embedded when the program is built (designer_page.cpp).
extern const char kDesignerPage[];
extern const std::size_t kDesignerPageSize;

namespace receipt_view {

namespace {

constexpr const char* kHost = "127.0.0.1";
// Requests drawn at once; each may hold a 10 m picture (about 50 MB).
constexpr std::size_t kWorkers = 4;
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// What the page may load: itself, its pictures as data, its calls to here.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data: blob:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'";

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written by a signal handler");
void onStopSignal(int signal) { stopSignal = signal; }

// What one request is drawn with: a glyph cache, and the memory of the last
// picture drawn and of its PNG. Each is used by one request at a time and
// stays warm for the next; nothing of a request's own is kept.
struct Workspace {
    std::unique_ptr<Glyphs> glyphs;
    Design design;
    std::vector<std::uint8_t> packedRows;
    std::string png;
};

class WorkspacePool {
public:
    class Lease {
    public:
        Lease(WorkspacePool& pool, std::unique_ptr<Workspace> space) : pool_(pool), space_(std::move(space)) {}
        ~Lease() {
            if (space_) pool_.giveBack(std::move(space_));
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        explicit operator bool() const { return space_ != nullptr; }
        Workspace* operator->() const { return space_.get(); }

    private:
        WorkspacePool& pool_;
        std::unique_ptr<Workspace> space_;
    };

    Lease take(std::string& error) {
        {
            std::lock_guard guard(lock_);
            if (!free_.empty()) {
                auto space = std::move(free_.back());
                free_.pop_back();
                return Lease(*this, std::move(space));
            }
        }
        auto space = std::make_unique<Workspace>();
        space->glyphs = Glyphs::openDefault(error);
        if (!space->glyphs) space.reset();
        return Lease(*this, std::move(space));
    }

private:
    void giveBack(std::unique_ptr<Workspace> space) {
        std::lock_guard guard(lock_);
        free_.push_back(std::move(space));
    }

    std::mutex lock_;
    std::vector<std::unique_ptr<Workspace>> free_;
};

void answerText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

bool readQuery(const httplib::Request& req, DesignRequest& request, std::string& error) {
    const std::string route = req.get_param_value("route");
    const std::string paper = req.get_param_value("paper");
    const std::string codePage = req.get_param_value("codepage");
    if (route != "device" && route != "spooler") error = "route is device or spooler";
    else if (paper != "58" && paper != "80") error = "paper is 58 or 80";
    else if (codePage != "936" && codePage != "1252") error = "codepage is 936 or 1252";
    if (!error.empty()) return false;
    request.route = route == "device" ? Route::Device : Route::Spooler;
    request.paperMillimetres = paper == "58" ? 58 : 80;
    request.paper = *paperForMillimetres(request.paperMillimetres);
    request.codePage = codePage == "936" ? kChineseCodePage : kWesternCodePage;
    return true;
}

std::string tooLarge() {
    return "The text is over 1 MiB and is refused: a receipt template is a few kilobytes.";
}

}  // namespace

int serveDesigner(int port, std::ostream& out, std::ostream& err) {
    WorkspacePool pool;
    {
        // Fails here, once, rather than in every request.
        std::string error;
        if (!pool.take(error)) {
            err << "orvane_receipt_view: " << error << "\n";
            return 1;
        }
    }

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_payload_max_length(kMaxDesignText);
    // The answer's head and body are separate writes: without this the body
    // waits for the client's delayed acknowledgement of the head.
    server.set_tcp_nodelay(true);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    // An idle connection holds a worker, and a stop waits for it.
    server.set_keep_alive_timeout(1);

    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy", kPagePolicy);
        res.set_header("Cache-Control", "no-store");
        res.set_content(kDesignerPage, kDesignerPageSize, "text/html; charset=utf-8");
    });
    const auto answer = [&pool](bool json) {
        return [&pool, json](const httplib::Request& req, httplib::Response& res) {
            DesignRequest request;
            std::string error;
            if (!readQuery(req, request, error)) return answerText(res, 400, error);
            if (req.body.size() > kMaxDesignText) return answerText(res, 413, tooLarge());
            request.text = req.body;
            const WorkspacePool::Lease space = pool.take(error);
            if (!space) return answerText(res, 500, error);
            design(request, *space->glyphs, space->design);
            if (!encodePng(space->design.rendering.picture, space->png, space->packedRows, error))
                return answerText(res, 500, error);
            res.set_header("Cache-Control", "no-store");
            if (json) res.set_content(designJson(space->design, space->png), "application/json");
            else res.set_content(space->png.data(), space->png.size(), "image/png");
        };
    };
    server.Post("/receipt", answer(true));
    server.Post("/picture", answer(false));
    // The library's own refusals (malformed requests, bodies over the
    // limit) and unknown paths get a reason too.
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        // The library parses a form-encoded body, and holds it to 8 KiB.
        if (res.status == 413 && req.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded"))
            answerText(res, 413, "A form-encoded text is refused over 8 KiB: send the text as application/octet-stream.");
        else if (res.status == 413) answerText(res, 413, tooLarge());
        else if (res.status == 404) answerText(res, 404, "No such page: the designer is at /");
        else answerText(res, res.status, "The request could not be read.");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr thrown) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        answerText(res, 500, "The receipt could not be drawn: " + what);
    });

    const int bound = port == 0 ? server.bind_to_any_port(kHost) : (server.bind_to_port(kHost, port) ? port : -1);
    if (bound <= 0) {
        err << "orvane_receipt_view: cannot listen on " << kHost << ":" << port << " (is the port in use?)\n";
        return 1;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    out << "Receipt designer: http://" << kHost << ":" << bound << "/" << std::endl;

    // Stops the server from a thread, which a signal handler may not do itself.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            if (stopSignal != 0) server.stop();
            std::this_thread::sleep_for(kStopPoll);
        }
    });
    const bool served = server.listen_after_bind();
    done = true;
    watcher.join();
    if (stopSignal == 0 || !served) {
        err << "orvane_receipt_view: the server stopped unasked\n";
        return 1;
    }
    return 0;
}

}  // namespace receipt_view

#include "binding/addon_log.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/process_exit.h"

namespace binding {

namespace addon_log {

namespace {

// Long enough for any writer that is alive to finish its line; a holder that
// hangs costs each later line this much, and the line is written regardless.
constexpr std::chrono::milliseconds kLockWait{2000};

void appendLimited(std::string& out, std::string_view piece, std::size_t limit) {
    if (out.size() < limit) out.append(piece.substr(0, limit - out.size()));
}

std::string digits(unsigned long long value, unsigned base, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), symbols[value % base]);
        value /= base;
    } while (value != 0);
    return text;
}

}  // namespace

namespace detail {

std::string render(std::string_view format, std::span<const Argument> arguments, std::size_t limit) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size() && out.size() < limit; ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (format[++i] == '%') {
            out += '%';
            continue;
        }
        bool left = false;
        bool zeros = false;
        for (; format[i] == '-' || format[i] == '0'; ++i) (format[i] == '-' ? left : zeros) = true;
        std::size_t width = 0;
        for (; format[i] >= '0' && format[i] <= '9'; ++i) width = width * 10 + static_cast<std::size_t>(format[i] - '0');
        while (format[i] == 'l') ++i;

        const Argument& argument = arguments[next++];
        std::string field;
        bool negative = false;
        switch (format[i]) {
        case 's': field = std::string(argument.text); break;
        case 'c': field = std::string(1, static_cast<char>(argument.asUnsigned)); break;
        case 'u': field = digits(argument.asUnsigned, 10, false); break;
        case 'x': field = digits(argument.asUnsigned, 16, false); break;
        case 'X': field = digits(argument.asUnsigned, 16, true); break;
        default:
            negative = argument.asSigned < 0;
            field = digits(negative ? 0 - static_cast<unsigned long long>(argument.asSigned)
                                    : static_cast<unsigned long long>(argument.asSigned),
                           10, false);
        }
        const bool numeric = format[i] != 's' && format[i] != 'c';
        const std::size_t length = field.size() + (negative ? 1 : 0);
        const std::size_t padding = width > length ? width - length : 0;
        if (left) {
            if (negative) field.insert(field.begin(), '-');
            field.append(padding, ' ');
        } else if (zeros && numeric) {
            field.insert(0, padding, '0');
            if (negative) field.insert(field.begin(), '-');
        } else {
            if (negative) field.insert(field.begin(), '-');
            field.insert(0, padding, ' ');
        }
        appendLimited(out, field, limit);
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::string composeLine(const platform::LocalTime& when, std::string_view category, std::string_view message) {
    std::string line = formatMessage<int, int, int, int, int, int>("[%2d-%2d %2d:%2d:%2d_%3d]", when.month, when.day,
                                                                   when.hour, when.minute, when.second,
                                                                   when.milliseconds);
    if (!category.empty()) line += formatMessage<std::string_view>("[%s]", category);
    line += message;
    return line;
}

namespace {

// Lines wait here, in the order they were logged, for the log's writer
// thread, which appends them a batch at a time under the cross-process log
// lock; the calling thread (the script thread included) never takes that lock
// or touches the file. Never destroyed: threads may log while the process's
// static objects are torn down.
class LineQueue {
public:
    void push(std::string_view category, std::string_view message) {
        if (direct_.load(std::memory_order_acquire)) {
            writeBatch({composeLine(platform::localTimeNow(), category, message)});
            return;
        }
        std::lock_guard guard(lock_);
        if (!started_) start();
        // Read under the queue's lock, so that the process's lines are in time order.
        pending_.push_back(composeLine(platform::localTimeNow(), category, message));
        wake_.notify_one();
    }

    // Writes what is queued now, on the calling thread, once the writer
    // thread's batch in hand is written.
    void flush() {
        // The writer thread may be writing its batch: it waits at most
        // kLockWait for the log lock, then writes. One killed in the middle
        // of its batch would hold this for ever.
        std::unique_lock writing(writing_, std::defer_lock);
        (void)writing.try_lock_for(2 * kLockWait + std::chrono::seconds(1));
        writeBatch(take());
    }

    // For the end of a process whose other threads may be gone (Windows ends
    // them before a DLL's exit handlers run): what is queued is written now,
    // and every later line at once on the calling thread. Nothing here waits
    // for a lock that an ended thread may hold; lines queued behind such a
    // lock are lost.
    void writeOnCallingThread() {
        std::vector<std::string> batch;
        {
            std::unique_lock guard(lock_, std::try_to_lock);
            if (guard.owns_lock()) {
                if (!started_) path_ = logPath();
                batch.swap(pending_);
            }
        }
        direct_.store(true, std::memory_order_release);
        writeBatch(batch);
    }

    static LineQueue& instance() {
        static LineQueue* queue = new LineQueue;
        return *queue;
    }

private:
    void start() {
        started_ = true;
        // A copy: the exit handler below runs after the static objects made
        // later are gone.
        path_ = logPath();
        std::thread([this] { run(); }).detach();
        std::atexit([] {
            if (platform::otherThreadsRunInExitHandlers()) {
                instance().flush();
            } else {
                instance().writeOnCallingThread();
            }
        });
    }

    std::vector<std::string> take() {
        std::lock_guard guard(lock_);
        std::vector<std::string> batch;
        batch.swap(pending_);
        return batch;
    }

    void run() {
        for (;;) {
            {
                std::unique_lock hold(lock_);
                wake_.wait(hold, [this] { return !pending_.empty(); });
            }
            // Taken and written under one lock, so batches reach the file in order.
            std::lock_guard writing(writing_);
            writeBatch(take());
        }
    }

    void writeBatch(const std::vector<std::string>& lines) {
        if (lines.empty()) return;
        // Written as a text-mode stream writes it on Windows: every line
        // feed, the one that ends the line included, becomes CR LF.
        std::string bytes;
        for (const std::string& line : lines) {
            for (const char c : line) {
                if (c == '\n') bytes += '\r';
                bytes += c;
            }
            bytes += "\r\n";
        }
        static platform::NamedMutex* lock = new platform::NamedMutex(L"XDUPLOG");
        // A hold that timed out still writes: losing no line matters more than
        // the rare interleaving with a writer that hangs.
        const auto hold = lock->lock(kLockWait);
        if (!path_.empty()) platform::appendToFile(path_, bytes.data(), bytes.size());
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::string> pending_;
    bool started_ = false;
    std::wstring path_;  // set before the writer starts, then only read
    std::timed_mutex writing_;
    std::atomic<bool> direct_{false};
};

}  // namespace

void appendLine(std::string_view category, std::string_view message) {
    LineQueue::instance().push(category, message);
}

}  // namespace detail

void flush() { detail::LineQueue::instance().flush(); }

void writeOnCallingThread() { detail::LineQueue::instance().writeOnCallingThread(); }

const std::wstring& logPath() {
    static const std::wstring path = [] {
        std::wstring folder = platform::executablePath();
        const auto cut = folder.find_last_of(platform::kPathSeparator);
        folder.resize(cut == std::wstring::npos ? 0 : cut + 1);
        if (folder.empty() || !platform::pathAppend(folder, L"log") || !platform::pathAppend(folder, L"kesto.log"))
            return std::wstring();
        return folder;
    }();
    return path;
}

}  // namespace addon_log

}  // namespace binding

#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/posix/text.h"

extern char** environ;

namespace platform::posix {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// What the child is given: the kept descriptor first, so that it survives
// even when it is one of the standard handles, then the null device for
// those, then nothing more.
class SpawnSettings {
public:
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    explicit SpawnSettings(const SpawnOptions& options) {
        haveActions_ = (failure_ = posix_spawn_file_actions_init(&actions)) == 0;
        if (haveActions_) haveAttributes_ = (failure_ = posix_spawnattr_init(&attributes)) == 0;
        int firstClosed = 3;
        if (options.keepAs3 >= 0 && failure_ == 0) {
            failure_ = posix_spawn_file_actions_adddup2(&actions, options.keepAs3, 3);
            firstClosed = 4;
        }
        const int flags[] = {O_RDONLY, O_WRONLY, O_WRONLY};
        for (int fd = 0; fd < 3 && failure_ == 0; ++fd)
            failure_ = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", flags[fd], 0);
        if (failure_ == 0) failure_ = posix_spawn_file_actions_addclosefrom_np(&actions, firstClosed);
        if (failure_ == 0 && options.ownSession) failure_ = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    ~SpawnSettings() {
        if (haveAttributes_) posix_spawnattr_destroy(&attributes);
        if (haveActions_) posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    bool ready() const {
        if (failure_ != 0) errno = failure_;
        return failure_ == 0;
    }

private:
    int failure_ = 0;
    bool haveActions_ = false;
    bool haveAttributes_ = false;
};

// posix_spawn takes its strings as char* const[] but never writes them.
void appendPointers(const std::vector<std::string>& texts, std::vector<char*>& pointers) {
    for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
}

}  // namespace

std::string findProgram(const std::string& name, bool besideExecutableFirst) {
    if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
    if (besideExecutableFirst) {
        const std::string self = toUtf8(executablePath());
        const std::string beside = self.substr(0, self.rfind('/') + 1) + name;
        if (beside != name && isExecutableFile(beside)) return beside;
    }
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        // An empty entry is the current folder.
        const std::string candidate = (end > start ? folders.substr(start, end - start) : ".") + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

std::optional<pid_t> spawnProgram(const std::string& program, const std::vector<std::string>& args,
                                  const SpawnOptions& options) {
    SpawnSettings settings(options);
    if (!settings.ready()) return std::nullopt;
    std::vector<char*> argv;
    appendPointers(args, argv);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (!options.environment.empty()) {
        appendPointers(options.environment, envp);
        for (char** setting = environ; *setting != nullptr; ++setting) envp.push_back(*setting);
        envp.push_back(nullptr);
    }
    pid_t child = 0;
    const int rc = ::posix_spawn(&child, program.c_str(), &settings.actions, &settings.attributes, argv.data(),
                                 envp.empty() ? environ : envp.data());
    if (rc != 0) {
        errno = rc;
        return std::nullopt;
    }
    return child;
}

std::optional<int> waitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return std::nullopt;
    if (!WIFEXITED(status)) return std::nullopt;
    return WEXITSTATUS(status);
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> args{"/bin/sh", "-c", "\"$0\" \"$@\" &", program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const auto shell = spawnProgram("/bin/sh", args);
    return shell && waitForExit(*shell) == 0;
}

}  // namespace platform::posix

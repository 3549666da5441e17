#include "platform/message_box.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/text.h"

extern char** environ;

namespace platform {

namespace {

std::string findTool(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Status 0 means the box was shown and closed. A tool that cannot reach the
// display ends with a failure status, and then the text must still reach the
// user some other way.
bool runAndWait(std::vector<std::string> args, const std::vector<std::string>& extraEnvironment = {}) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings = extraEnvironment;
    std::vector<char*> envp;
    for (auto& e : settings) envp.push_back(e.data());
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

void showMessageBox(const std::wstring& text, const std::wstring& caption) {
    const std::string body = posix::toUtf8(text);
    const std::string title = posix::toUtf8(caption);
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0')) {
        if (std::string zenity = findTool("zenity"); !zenity.empty()) {
            // Esc and the window's close button close the box as OK does, as
            // with an OK-only MessageBoxW; zenity gives them status 1 unless told.
            if (runAndWait({zenity, "--info", "--no-wrap", "--title=" + title, "--text=" + body},
                           {"ZENITY_ESC=0", "ZENITY_CANCEL=0"}))
                return;
        }
        if (std::string xmessage = findTool("xmessage"); !xmessage.empty()) {
            if (runAndWait({xmessage, "-center", "-title", title, "-buttons", "OK:0", body})) return;
        }
    }
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
}

}  // namespace platform

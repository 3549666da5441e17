#include "platform/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/spawn.h"
#include "platform/posix/text.h"

namespace platform {

namespace {

// Status 0 means the box was shown and closed. A tool that cannot reach the
// display ends with a failure status, and then the text must still reach the
// user some other way. The caller waits on it, so it stays in the caller's session.
bool runAndWait(const std::vector<std::string>& args, std::vector<std::string> environment = {}) {
    posix::SpawnOptions options;
    options.ownSession = false;
    options.environment = std::move(environment);
    const auto tool = posix::spawnProgram(args[0], args, options);
    return tool && posix::waitForExit(*tool) == 0;
}

}  // namespace

void showMessageBox(const std::wstring& text, const std::wstring& caption) {
    const std::string body = posix::toUtf8(text);
    const std::string title = posix::toUtf8(caption);
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0')) {
        if (std::string zenity = posix::findProgram("zenity", false); !zenity.empty()) {
            // Esc and the window's close button close the box as OK does, as
            // with an OK-only MessageBoxW; zenity gives them status 1 unless told.
            if (runAndWait({zenity, "--info", "--no-wrap", "--title=" + title, "--text=" + body},
                           {"ZENITY_ESC=0", "ZENITY_CANCEL=0"}))
                return;
        }
        if (std::string xmessage = posix::findProgram("xmessage", false); !xmessage.empty()) {
            if (runAndWait({xmessage, "-center", "-title", title, "-buttons", "OK:0", body})) return;
        }
    }
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
}

}  // namespace platform

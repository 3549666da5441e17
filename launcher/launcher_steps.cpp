#include "launcher_steps.h"

#include "files.h"
#include "guid.h"
#include "log.h"
#include "message_box.h"
#include "process.h"
#include "process_control.h"
#include "profile.h"
#include "text.h"
#include "version.h"

namespace {

const std::wstring kClientExe = std::wstring(L"Orvane") + platform::kExeSuffix;
const std::wstring kUpdaterExe = std::wstring(L"orvane_updater") + platform::kExeSuffix;

// The folder is created here when missing; a path that does not fit is kept
// as it was, as PathAppendW leaves it.
std::wstring kestoFolder(std::wstring appData) {
    platform::pathAppend(appData, L"KestoOrvane");
    if (!platform::pathExists(appData)) platform::createDirectories(appData);
    return appData;
}

std::wstring joined(std::wstring base, std::wstring_view more) {
    platform::pathAppend(base, more);
    return base;
}

}  // namespace

void scanLauncherArgs() {
    const auto args = platform::commandLineArguments();
    if (!args) return;
    for (const auto& arg : *args) {
        appendLog(L"\r\nparam:");
        appendLog(arg);
        if (arg == L"ignoreSSLError") appendLog(L"\r\n ignoreSSLError:true");
    }
}

void prepareInstallIdentity() {
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        appendLog(formatErrorLine(L"get appdata dir failed", platform::lastErrorCode()));
        return;
    }
    const std::wstring folder = kestoFolder(*appData);
    const std::wstring uuidPath = joined(folder, L"uuid");
    const std::wstring iniPath = joined(folder, L"orvane.ini");

    std::wstring id;  // stays empty when no GUID can be made
    makeGuidString(&id);
    appendLog(L"\r\nuuid:");
    appendLog(id);
    appendLog(L"\r\nuuid path:");
    appendLog(uuidPath);

    if (platform::pathExists(uuidPath) && !platform::isDirectory(uuidPath)) {
        appendLog(L"\r\nuuid file exist");
    } else {
        auto file = platform::File::open(uuidPath, platform::File::Disposition::OpenAlways, true);
        if (!file.isOpen()) {
            appendLog(formatErrorLine(L"open uuid file failed\r\n", platform::lastErrorCode()));
        } else {
            const std::string bytes = narrowText(id);
            if (!file.write(bytes.data(), bytes.size()))
                appendLog(formatErrorLine(L"write uuid file failed", platform::lastErrorCode()));
        }
    }

    if (!platform::pathExists(iniPath) || platform::isDirectory(iniPath)) {
        auto file = platform::File::open(iniPath, platform::File::Disposition::OpenAlways, true);
        if (!file.isOpen()) appendLog(L"\r\ncreate orvane.ini file exist");
    }

    const std::wstring launcherPath = platform::executablePath();
    const std::wstring workDir = platform::currentDirectory();
    bool allWritten = true;
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_PATH", L"LAUNCHER", launcherPath);
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_PATH", L"WORKDIR", workDir);
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_VERSION", L"VERSION", kOrvaneVersion);
    allWritten &= platform::writeProfileString(iniPath, L"SN", L"UUID", id);
    if (!allWritten) appendLog(L"\r\nwrite init file failed");

    const std::string env = narrowText(platform::readProfileString(iniPath, L"ORVANE", L"ENV", L"", 64));
    if (env != "production" && env != "testing")
        platform::writeProfileString(iniPath, L"ORVANE", L"ENV", L"production");
}

bool pickUserDataSlot(std::wstring& slotFolder) {
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        appendLog(L"\r\nget appdata dir failed");
        return false;
    }
    const std::wstring folder = kestoFolder(*appData);
    // No upper bound: the first slot whose marker is missing is free.
    for (unsigned n = 1;; ++n) {
        const std::wstring slot = joined(folder, L"UserData_" + std::to_wstring(n));
        if (platform::pathExists(joined(slot, L"lockfile"))) continue;
        slotFolder = slot;
        platform::createDirectories(slotFolder);
        return true;
    }
}

void launchClient() {
    std::wstring slot;
    if (!pickUserDataSlot(slot)) {
        platform::showMessageBox(L"启动奥维恩客户端失败：获取用户目录失败", L"错误");
        return;
    }
    const std::wstring argument = L"--user-data-dir=\"" + slot + L"\"";
    appendLog(L"\r\ncmdline:");
    appendLog(argument);
    if (!runProcess(kClientExe.c_str(), argument.c_str())) {
        platform::showMessageBox(L"运行奥维恩客户端失败", L"错误");
        appendLog(L"\r\nrun orvane.exe failed");
    }
}

int launcherMain() {
    setLogFileName(L"orvane_launcher.log");
    scanLauncherArgs();
    prepareInstallIdentity();
    launchClient();
    killProcessesByName(kUpdaterExe);
    if (!runProcess(kUpdaterExe.c_str(), L"")) {
        appendLog(L"\r\nrun orvane_updater.exe failed");
        return 0;
    }
    return 1;
}

#include "launcher/launcher_steps.h"

#include "platform/files.h"
#include "common/guid.h"
#include "common/log.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "common/process_control.h"
#include "platform/profile.h"
#include "common/text.h"
#include "common/version.h"

namespace launcher {

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
        common::appendLog(L"\r\nparam:");
        common::appendLog(arg);
        if (arg == L"ignoreSSLError") common::appendLog(L"\r\n ignoreSSLError:true");
    }
}

void prepareInstallIdentity() {
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        common::appendLog(common::formatErrorLine(L"get appdata dir failed", platform::lastErrorCode()));
        return;
    }
    const std::wstring folder = kestoFolder(*appData);
    const std::wstring uuidPath = joined(folder, L"uuid");
    const std::wstring iniPath = joined(folder, L"orvane.ini");

    std::wstring id;  // stays empty when no GUID can be made
    common::makeGuidString(&id);
    common::appendLog(L"\r\nuuid:");
    common::appendLog(id);
    common::appendLog(L"\r\nuuid path:");
    common::appendLog(uuidPath);

    if (platform::pathExists(uuidPath) && !platform::isDirectory(uuidPath)) {
        common::appendLog(L"\r\nuuid file exist");
    } else {
        auto file = platform::File::open(uuidPath, platform::File::Disposition::OpenAlways, true);
        if (!file.isOpen()) {
            common::appendLog(common::formatErrorLine(L"open uuid file failed\r\n", platform::lastErrorCode()));
        } else {
            const std::string bytes = common::narrowText(id);
            if (!file.write(bytes.data(), bytes.size()))
                common::appendLog(common::formatErrorLine(L"write uuid file failed", platform::lastErrorCode()));
        }
    }

    if (!platform::pathExists(iniPath) || platform::isDirectory(iniPath)) {
        auto file = platform::File::open(iniPath, platform::File::Disposition::OpenAlways, true);
        if (!file.isOpen()) common::appendLog(L"\r\ncreate orvane.ini file exist");
    }

    const std::wstring launcherPath = platform::executablePath();
    const std::wstring workDir = platform::currentDirectory();
    bool allWritten = true;
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_PATH", L"LAUNCHER", launcherPath);
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_PATH", L"WORKDIR", workDir);
    allWritten &= platform::writeProfileString(iniPath, L"ORVANE_VERSION", L"VERSION", common::kOrvaneVersion);
    allWritten &= platform::writeProfileString(iniPath, L"SN", L"UUID", id);
    if (!allWritten) common::appendLog(L"\r\nwrite init file failed");

    const std::string env = common::narrowText(platform::readProfileString(iniPath, L"ORVANE", L"ENV", L"", 64));
    if (env != "production" && env != "testing")
        platform::writeProfileString(iniPath, L"ORVANE", L"ENV", L"production");
}

bool pickUserDataSlotIn(const std::wstring& kestoFolder, std::wstring& slotFolder) {
    // Paths only grow with the slot number, so the first slot whose marker
    // cannot be formed ends the search; a slot that cannot be formed is never
    // taken for the folder above it.
    for (unsigned n = 1;; ++n) {
        std::wstring slot = kestoFolder;
        if (!platform::pathAppend(slot, L"UserData_" + std::to_wstring(n))) return false;
        std::wstring marker = slot;
        if (!platform::pathAppend(marker, L"lockfile")) return false;
        if (platform::pathExists(marker)) continue;
        slotFolder = slot;
        platform::createDirectories(slotFolder);
        return true;
    }
}

bool pickUserDataSlot(std::wstring& slotFolder) {
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        common::appendLog(L"\r\nget appdata dir failed");
        return false;
    }
    // A KestoOrvane path that does not fit would leave the slots directly in
    // the application-data folder.
    std::wstring wanted = *appData;
    const bool fits = platform::pathAppend(wanted, L"KestoOrvane");
    if (!fits || !pickUserDataSlotIn(kestoFolder(*appData), slotFolder)) {
        common::appendLog(L"\r\nuser data dir too long:");
        common::appendLog(wanted);
        return false;
    }
    return true;
}

void launchClient() {
    std::wstring slot;
    if (!pickUserDataSlot(slot)) {
        platform::showMessageBox(L"启动奥维恩客户端失败：获取用户目录失败", L"错误");
        return;
    }
    const std::wstring argument = L"--user-data-dir=\"" + slot + L"\"";
    common::appendLog(L"\r\ncmdline:");
    common::appendLog(argument);
    if (!common::runProcess(kClientExe.c_str(), argument.c_str())) {
        platform::showMessageBox(L"运行奥维恩客户端失败", L"错误");
        common::appendLog(L"\r\nrun orvane.exe failed");
    }
}

int launcherMain() {
    common::setLogFileName(L"orvane_launcher.log");
    scanLauncherArgs();
    prepareInstallIdentity();
    launchClient();
    common::killProcessesByName(kUpdaterExe);
    if (!common::runProcess(kUpdaterExe.c_str(), L"")) {
        common::appendLog(L"\r\nrun orvane_updater.exe failed");
        return 0;
    }
    return 1;
}

}  // namespace launcher

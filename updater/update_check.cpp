#include "updater/update_check.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "updater/endpoints.h"
#include "platform/files.h"
#include "updater/http_client.h"
#include "updater/identity.h"
#include "updater/installer_publisher.h"
#include "common/log.h"
#include "updater/md5.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "common/process_control.h"
#include "platform/profile.h"
#include "common/text.h"
#include "updater/updater_main.h"
#include "common/version.h"

namespace updater {

namespace {

struct JsonDelete {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

struct JsonFree {
    void operator()(char* text) const { cJSON_free(text); }
};

// Looked up without regard to case, as cJSON does.
const char* stringMember(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

// Everything after the service's answer: download, prompt, digest, install.
void installOfferedVersion(const std::string& url, const std::string& offeredDigest, const std::wstring& version) {
    if (!isUsableVersionText(version)) {
        common::appendLog(L"\r\n unusable version:");
        common::appendLog(version);
        return;
    }
    const std::wstring installer = platform::tempFolder() + version + L"_kesto.exe";
    if (installer.size() >= platform::kMaxPath) {
        common::appendLog(L"\r\n unusable version:");
        common::appendLog(version);
        return;
    }
    // The download appends; an earlier copy must not stay in front of it.
    platform::deleteFile(installer);
    const HttpResponse download = httpDownload(plainHttpAddress(url), common::narrowFileName(installer));
    common::appendLog(L"\r\n Downloaded new product");
    // The prompt promises an installer that will start: only a whole body of
    // a successful answer, with the offered digest and an accepted publisher,
    // gets that far. Anything else says why in one line and waits for the
    // next check.
    if (download.code < 200 || download.code > 299) {
        common::appendLog(L"\r\n download failed:");
        common::appendLog(std::to_wstring(download.code));
        return;
    }
    if (!download.savedWhole) {
        common::appendLog(L"\r\n download not written:");
        common::appendLog(installer);
        return;
    }
    const std::string infoDigest = lowerCase(offeredDigest);
    const std::string fileDigest = lowerCase(md5FileHex(common::narrowFileName(installer)));
    common::appendLog(L"\r\nFile MD5:");
    common::appendLog(common::widenText(fileDigest));
    common::appendLog(L"\r\ninfo MD5:");
    common::appendLog(common::widenText(infoDigest));
    if (fileDigest != infoDigest) {
        common::appendLog(L"\r\n installer refused:MD5 mismatch");
        return;
    }
    InstallerPermit permit = InstallerPermit::check(installer);
    if (!permit.granted()) return;

    platform::showMessageBox(L"奥维恩客户端更新已下载完成，点击“确定”开始安装", L"提示");

    // The prompt may have waited for hours: what starts is still what was checked.
    if (lowerCase(md5FileHex(common::narrowFileName(installer))) != infoDigest) {
        common::appendLog(L"\r\n installer refused:MD5 mismatch");
        return;
    }
    const std::wstring suffix = platform::kExeSuffix;
    common::killProcessesByName(L"orvane_launcher" + suffix);
    common::killProcessesByName(L"Orvane" + suffix);
    closeUpdaterGuard();
    permit.start();
    common::killProcessesByName(L"orvane_updater" + suffix);
}

}  // namespace

std::string upgradeRequestBody() {
    const Json request(cJSON_CreateObject());
    const std::string deviceId = readDeviceId();
    const std::string osVersion = osVersionString();
    cJSON_AddStringToObject(request.get(), "appId", "lo.vomi.kesto.tillbox");
    cJSON_AddStringToObject(request.get(), "deviceId", deviceId.c_str());
    cJSON_AddStringToObject(request.get(), "networkType", "");
    cJSON_AddStringToObject(request.get(), "appVersion", common::kOrvaneVersionA);
    cJSON_AddStringToObject(request.get(), "platform", "PC");
    cJSON_AddStringToObject(request.get(), "osVersion", osVersion.c_str());
    cJSON_AddStringToObject(request.get(), "brand", "");
    cJSON_AddStringToObject(request.get(), "model", "");
    cJSON_AddStringToObject(request.get(), "appBuildNo", "local");
    cJSON_AddStringToObject(request.get(), "city", "");
    const std::unique_ptr<char, JsonFree> printed(cJSON_PrintUnformatted(request.get()));
    return printed ? std::string(printed.get()) : std::string();
}

bool usesTestingEndpoint() {
    auto settings = platform::localAppDataFolder();
    if (!settings || !platform::pathAppend(*settings, L"KestoOrvane") || !platform::pathAppend(*settings, L"orvane.ini") ||
        !platform::pathExists(*settings))
        return false;
    return common::narrowText(platform::readProfileString(*settings, L"ORVANE", L"ENV", L"", 64)) == "testing";
}

bool isUsableVersionText(std::wstring_view version) {
    if (version.empty() || version.find(L"..") != std::wstring_view::npos) return false;
    // Separators, the drive colon and every other character Windows refuses in names.
    return std::none_of(version.begin(), version.end(), [](wchar_t c) {
        return c < 0x20 || c == 0x7F || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos;
    });
}

std::string plainHttpAddress(std::string_view url) {
    const std::string_view secure = "https:";
    const bool isSecure = url.size() >= secure.size() && lowerCase(std::string(url.substr(0, secure.size()))) == secure;
    return isSecure ? "http" + std::string(url.substr(5)) : std::string(url);
}

std::wstring quotedProgramName(const std::wstring& program) {
    return program.find(L' ') == std::wstring::npos ? program : L"\"" + program + L"\"";
}

void checkForUpdate() {
    const std::string body = upgradeRequestBody();
    const bool testing = usesTestingEndpoint();
    HttpResponse response;
    try {
        response = httpPost(testing ? upgradeTestingUrl() : upgradeProductionUrl(), "application/json", body);
    } catch (const std::exception&) {
        // No transfer handle to be had: nothing was asked, so nothing to act on.
        return;
    }
    common::appendLog(testing ? L"\r\n isTesting : YES" : L"\r\n isTesting : NO");
    common::appendLog(L"\r\nresp body:");
    common::appendLog(common::widenText(response.body));

    // Judged as the log shows it: up to its first zero byte.
    const Json answer(cJSON_Parse(response.body.c_str()));
    if (!answer) return;
    const cJSON* code = cJSON_GetObjectItem(answer.get(), "code");
    if (code == nullptr || code->valueint != 200) return;
    const cJSON* data = cJSON_GetObjectItem(answer.get(), "data");
    const char* url = stringMember(data, "url");
    const char* digest = stringMember(data, "md5");
    const char* version = stringMember(data, "version");
    if (url == nullptr || digest == nullptr || version == nullptr) return;

    // Any other version, older or newer, is installed: versions have no order.
    const std::wstring offered = common::widenText(version);
    if (offered == common::kOrvaneVersion) return;
    try {
        installOfferedVersion(url, digest, offered);
    } catch (const std::exception&) {
        // As above: the download could not be attempted.
    }
}

}  // namespace updater

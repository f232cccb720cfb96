#include "system/BrowserDetection.h"

#include "system/Folders.h"
#include "system/Log.h"

#include <QCoreApplication>
#include <QThread>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"
#include "platform/wstr.h"

namespace reelpage {

namespace {

int32_t g_nBrowserEmulation = kDefaultBrowserEmulation;

// First desktop id of a "type=a.desktop;b.desktop;" line in the
// [Default Applications] group of one mimeapps.list, or "".
std::string DefaultHandlerIn(const std::string& file, const std::string& type) {
    std::ifstream in(file);
    std::string line;
    bool defaults = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            defaults = line == "[Default Applications]";
            continue;
        }
        if (!defaults || line.rfind(type + "=", 0) != 0) continue;
        std::string ids = line.substr(type.size() + 1);
        std::string first = ids.substr(0, ids.find(';'));
        if (!first.empty()) return first;
    }
    return {};
}

std::vector<std::string> SplitDirs(const char* value, const char* fallback) {
    std::vector<std::string> dirs;
    std::stringstream ss(value && *value ? value : fallback);
    std::string dir;
    while (std::getline(ss, dir, ':'))
        if (!dir.empty()) dirs.push_back(dir);
    return dirs;
}

} // namespace

int32_t BrowserEmulationFor(int32_t major) {
    switch (major) {
    case 8:
        return 8888;
    case 9:
        return 9999;
    case 10:
        return 10001;
    default:
        // A major version the value cannot carry keeps the default.
        if (major <= 0 || major > INT32_MAX / 1000) return kDefaultBrowserEmulation;
        return major * 1000;
    }
}

bool BrowserVersionText(std::string_view userAgent, char (&out)[128]) {
    out[0] = 0;
    const std::string_view token = "Chrome/";
    size_t at = userAgent.find(token);
    if (at == std::string_view::npos) return false;
    std::string_view version = userAgent.substr(at + token.size());
    version = version.substr(0, version.find(' '));
    // However long the text is, the buffer keeps its terminator.
    size_t n = std::min(version.size(), sizeof out - 1);
    std::memcpy(out, version.data(), n);
    out[n] = 0;
    return n > 0;
}

int32_t MajorVersionOf(const char* versionText) {
    int64_t n = 0;
    for (const char* p = versionText; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > INT32_MAX) return INT32_MAX;
    }
    return int32_t(n);
}

int32_t BrowserEmulation() { return g_nBrowserEmulation; }

std::string ExecutableFileName() {
    std::error_code ec;
    std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
    // A binary replaced while it runs reads "name (deleted)".
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
        exe.resize(exe.size() - deleted.size());
    return exe;
}

std::string DefaultWebBrowser() {
    // The handler of web addresses as xdg-open finds it: the user's, then the
    // system's mimeapps.list files in the XDG order.
    const char* home = getenv("HOME");
    const char* configHome = getenv("XDG_CONFIG_HOME");
    const char* dataHome = getenv("XDG_DATA_HOME");
    std::vector<std::string> files;
    files.push_back((configHome && *configHome ? std::string(configHome)
                                               : std::string(home ? home : "") + "/.config") +
                    "/mimeapps.list");
    for (const std::string& dir : SplitDirs(getenv("XDG_CONFIG_DIRS"), "/etc/xdg"))
        files.push_back(dir + "/mimeapps.list");
    files.push_back((dataHome && *dataHome ? std::string(dataHome)
                                           : std::string(home ? home : "") + "/.local/share") +
                    "/applications/mimeapps.list");
    for (const std::string& dir : SplitDirs(getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share")) {
        files.push_back(dir + "/applications/mimeapps.list");
        files.push_back(dir + "/applications/defaults.list");
    }
    for (const std::string& file : files) {
        std::string id = DefaultHandlerIn(file, "x-scheme-handler/http");
        if (!id.empty()) return id;
    }
    // Without a desktop's choice xdg-open tries $BROWSER, then the system's
    // alternative.
    if (const char* browser = getenv("BROWSER"); browser && *browser) {
        std::string first = browser;
        return first.substr(0, first.find(':'));
    }
    std::error_code ec;
    auto target = std::filesystem::canonical("/usr/bin/x-www-browser", ec);
    if (!ec) return target.string();
    return "none";
}

UserAgentResult QueryWebEngineUserAgent() {
    UserAgentResult r;
    // The web engine needs a GUI application and its thread; the command-line
    // front end and the engine's tests never load it.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !app->inherits("QGuiApplication") || app->thread() != QThread::currentThread()) {
        r.hr = E_FAIL;
        r.call = "QCoreApplication::instance()->inherits(\"QGuiApplication\")";
        r.line = __LINE__;
        return r;
    }
    const std::string path = InstallFolder() + "/" + kWebAgentModule;
    // Never closed: a web engine cannot be unloaded once it has started.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        LogWrite(kLogError, "%hs\n", why ? why : path.c_str());
        r.hr = E_FAIL;
        r.call = "dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)";
        r.line = __LINE__;
        return r;
    }
    auto userAgent = reinterpret_cast<FnWebUserAgent>(dlsym(module, kWebAgentEntry));
    if (!userAgent) {
        r.hr = E_FAIL;
        r.call = "dlsym(module, kWebAgentEntry)";
        r.line = __LINE__;
        return r;
    }
    char text[1024] = {};
    r.hr = userAgent(text, sizeof text);
    if (r.hr != S_OK) {
        r.call = "userAgent(text, sizeof text)";
        r.line = __LINE__;
        return r;
    }
    text[sizeof text - 1] = 0;
    r.userAgent = text;
    return r;
}

HRESULT DetectBrowser(const UserAgentQuery& query) {
    UserAgentResult agent = query();

    // Read the version.
    g_nBrowserEmulation = kDefaultBrowserEmulation;
    if (agent.hr == S_OK) {
        char version[128];
        if (BrowserVersionText(agent.userAgent, version))
            g_nBrowserEmulation = BrowserEmulationFor(MajorVersionOf(version));
        else
            LogWrite(kLogError, "Failed(%d) to RegCreateKey\n", platform::ERROR_FILE_NOT_FOUND);
    }

    // Write the emulation value, under the executable's own name.
    platform::RegKey key;
    int rc = platform::RegCreateKeyMachineOrUser(kBrowserEmulationKey, &key);
    if (rc == 0) {
        const int32_t value = g_nBrowserEmulation;
        rc = platform::RegSetValue(key, platform::FromUtf8(ExecutableFileName()),
                                   platform::REG_DWORD, &value, sizeof value);
    }
    if (rc != 0) LogWrite(kLogError, "Failed(%d) to RegCreateKey\n", rc);

    // Log the user agent, and the browser "Open in browser" hands pages to.
    HRESULT result = agent.hr;
    if (agent.hr == S_OK)
        LogWrite(kLogInfo, "InternetExplorer:%ls\n", platform::FromUtf8(agent.userAgent).c_str());
    else
        LogWrite(kLogError, "Failed(0x%x) on %hs, FILE:%s, LINE:%d\n", unsigned(agent.hr),
                 agent.call, __FILE__, agent.line);
    LogWrite(kLogInfo, "DefaultBrowser:%hs\n", DefaultWebBrowser().c_str());
    return result;
}

} // namespace reelpage

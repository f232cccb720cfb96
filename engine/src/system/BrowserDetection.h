#pragma once
// The browser steps of the diagnostics: which web engine renders the program's
// page views, the emulation value registered for it, its user agent and the
// system's default browser in the log. All best effort: none stops a start.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "reelpage/types.h"

namespace reelpage {

constexpr int32_t kDefaultBrowserEmulation = 7000;
constexpr char16_t kBrowserEmulationKey[] =
    u"SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_BROWSER_EMULATION";
// The module beside the engine that asks the embedded web engine; loaded only
// into a process that runs a GUI application.
constexpr char kWebAgentModule[] = "webagent.so";
constexpr char kWebAgentEntry[] = "ReelpageWebUserAgent";
// Signature of that entry: fills out (size bytes, NUL included) with the web
// engine's user agent in UTF-8; 0 or a failure code.
using FnWebUserAgent = int32_t (*)(char* out, int32_t size);

// The emulation value for a major version.
int32_t BrowserEmulationFor(int32_t major);
// The version text of a user agent ("102.0.5005.177" after "Chrome/"),
// always terminated within its 128 bytes; false when the agent names none.
bool BrowserVersionText(std::string_view userAgent, char (&out)[128]);
// Leading decimal digits of a version text, as the C runtime's text-to-int
// conversion reads them; 0 without digits, INT32_MAX when too large.
int32_t MajorVersionOf(const char* versionText);

// The emulation value this process has settled on (7000 until detected).
int32_t BrowserEmulation();

// The file name of the running executable, without its folder.
std::string ExecutableFileName();
// The desktop's default web browser ("none" when it names none).
std::string DefaultWebBrowser();

// What asking the web engine gave: S_OK with the user agent, or the failure
// code with the call that failed as written in the source and its line, for
// the log's failure line.
struct UserAgentResult {
    HRESULT hr = S_OK;
    std::string userAgent;
    const char* call = "";
    int line = 0;
};
using UserAgentQuery = std::function<UserAgentResult()>;
UserAgentResult QueryWebEngineUserAgent();

// The steps in order: read the version, write the emulation value, log the
// user agent (and the default browser). The result is that of the last step.
HRESULT DetectBrowser(const UserAgentQuery& query = QueryWebEngineUserAgent);

} // namespace reelpage

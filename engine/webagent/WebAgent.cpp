// The user agent of the embedded web engine, as the program's page views send
// it. Called on the GUI thread of a running GUI application.
#include "reelpage/types.h"

#include <QByteArray>
#include <QWebEngineProfile>

#include <cstring>

extern "C" __attribute__((visibility("default"))) int32_t ReelpageWebUserAgent(char* out,
                                                                               int32_t size) {
    if (!out || size <= 0) return reelpage::E_FAIL;
    out[0] = 0;
    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    if (!profile) return reelpage::E_FAIL;
    const QByteArray agent = profile->httpUserAgent().toUtf8();
    if (agent.isEmpty()) return reelpage::E_FAIL;
    const size_t n = std::min(size_t(agent.size()), size_t(size) - 1);
    std::memcpy(out, agent.constData(), n);
    out[n] = 0;
    return reelpage::S_OK;
}

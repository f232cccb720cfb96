// The update query on Qt Network. Only the program's engine library links
// it: reelpage-cli's build of the engine never checks for updates, and so
// never loads Qt Network and the libraries behind it.
#include "system/UpdateCheck.h"

#include "system/Log.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/router.h"

namespace reelpage {

namespace {

// The answer is read into a 1,024-byte buffer that always keeps room for its
// terminator; anything beyond 100 bytes is not an answer of the service.
constexpr qint64 kAnswerBuffer = 1024;
constexpr qint64 kAnswerMax = 100;

// The proxy the system names for each address: on this platform the
// http_proxy / https_proxy / no_proxy variables of the environment (or the
// desktop's settings where Qt reads them). Set on our own manager only, so the
// process-wide proxy choice of anyone else is left alone.
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

struct QueryParam {
    std::string address;
    HWND notify = 0;
    uint32_t message = 0;
    int timeout = kUpdateTransferTimeout;
};

// The one query thread of the process. It is joinable: the engine's exit and
// the end of the Qt application abort the transfer and wait for the thread,
// because a thread still inside Qt Network while the application is torn down
// crashes the process.
class UpdateThread {
public:
    ~UpdateThread() { Stop(); }

    // False when the thread could not be made (the check is still counted).
    bool Start(QueryParam param) {
        Stop();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bAbort = false;
        m_bRunning = true;
        try {
            m_thread = std::thread(&UpdateThread::Run, this, std::move(param));
        } catch (const std::system_error& e) {
            m_bRunning = false;
            LOG_FAILED(e.code().value(), "std::thread(&UpdateThread::Run, this, std::move(param))");
            return false;
        }
        return true;
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bAbort = true;
            // The reply lives on the query thread: the abort is queued to it
            // and runs inside its event loop.
            if (m_pReply)
                QMetaObject::invokeMethod(m_pReply.data(), &QNetworkReply::abort,
                                          Qt::QueuedConnection);
        }
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            m_thread.join();
    }

    bool Running() const { return m_bRunning.load(); }

private:
    void Run(QueryParam param) {
        Query(param);
        m_bRunning = false;
    }

    void Query(const QueryParam& param) {
        QNetworkAccessManager manager;
        manager.setProxyFactory(new SystemProxyFactory);
        QNetworkRequest request{QUrl(QString::fromStdString(param.address))};
        request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Update"));
        request.setTransferTimeout(param.timeout);
        QNetworkReply* reply = manager.get(request);

        QByteArray answer;
        bool tooLong = false;
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
            // Never more than the buffer can hold with its terminator.
            while (!tooLong && answer.size() < kAnswerBuffer - 1) {
                QByteArray chunk = reply->read(kAnswerBuffer - 1 - answer.size());
                if (chunk.isEmpty()) break;
                answer += chunk;
                if (answer.size() > kAnswerMax) tooLong = true;
            }
            if (tooLong) reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bAbort) reply->abort();
            m_pReply = reply;
        }
        if (!reply->isFinished()) loop.exec();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pReply = nullptr;
        }

        // Only a complete, successful answer of the service's form counts: an
        // error page (404 ...) or a cut transfer must not look like a version.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        uint16_t v[4];
        if (tooLong || reply->error() != QNetworkReply::NoError || status != 200 ||
            !ParseVersionAnswer(std::string_view(answer.constData(), size_t(answer.size())), v))
            return;
        const uint32_t wParam = (uint32_t(v[0]) << 16) + v[1];
        const uint32_t lParam = (uint32_t(v[2]) << 16) + v[3];
        platform::PostMessage(param.notify, param.message, int64_t(wParam), int64_t(lParam));
    }

    std::mutex m_mutex;
    std::thread m_thread;
    QPointer<QNetworkReply> m_pReply;
    bool m_bAbort = false;
    std::atomic<bool> m_bRunning{false};
};

UpdateThread& TheUpdateThread() {
    static UpdateThread thread;
    return thread;
}

} // namespace

namespace {

const UpdateQuery kQuery = {
    [](const std::string& address, HWND notify, uint32_t message, int timeout) {
        return TheUpdateThread().Start(QueryParam{address, notify, message, timeout});
    },
    [] { TheUpdateThread().Stop(); },
    [] { return TheUpdateThread().Running(); },
};

[[maybe_unused]] const bool g_bLinked = SetUpdateQuery(&kQuery);

} // namespace

} // namespace reelpage

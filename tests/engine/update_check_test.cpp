// The update check against a small HTTP server on the loopback interface:
// when a check is due, what the query asks, which answers reach the main
// window, and that a server that never answers neither posts nor holds up the
// engine's exit.
#include "system/Exports.h"
#include "system/RouterQt.h"
#include "system/UpdateCheck.h"
#include "reelpage/exports.h"
#include "reelpage/messages.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/filetime.h"
#include "platform/registry.h"
#include "platform/router.h"
#include "platform/wstr.h"

using namespace reelpage;
using namespace std::chrono_literals;

namespace {

constexpr char16_t kUpdateKey[] = u"SOFTWARE\\Zelmorix\\reelpage\\Update";
constexpr uint64_t kDay = 864000000000ULL; // in file-time units

// Answers every request on 127.0.0.1 with one fixed response, or never.
class LoopbackServer {
public:
    struct Response {
        int status = 200;
        std::string body;
        bool silent = false; // accept, read, and never answer
    };

    LoopbackServer() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_fd, 8);
        socklen_t len = sizeof addr;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        pipe2(m_stop, O_CLOEXEC);
        m_thread = std::thread([this] { Serve(); });
    }

    ~LoopbackServer() {
        char c = 0;
        ssize_t ignored = write(m_stop[1], &c, 1);
        (void)ignored;
        m_thread.join();
        for (int fd : {m_fd, m_stop[0], m_stop[1]})
            close(fd);
        for (int fd : m_held)
            close(fd);
    }

    int Port() const { return m_port; }

    void Answer(Response r) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_response = std::move(r);
    }

    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void Serve() {
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return;
            int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string head;
            char buf[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(client, buf, sizeof buf, 0);
                if (n <= 0) break;
                head.append(buf, size_t(n));
            }
            Response r;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back(head);
                r = m_response;
            }
            if (r.silent) {
                m_held.push_back(client);
                continue;
            }
            std::string out = "HTTP/1.1 " + std::to_string(r.status) +
                              " Status\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(r.body.size()) + "\r\nConnection: close\r\n\r\n" +
                              r.body;
            // The client may hang up early (a body too long for it): no SIGPIPE.
            for (size_t sent = 0; sent < out.size();) {
                ssize_t n = send(client, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += size_t(n);
            }
            close(client);
        }
    }

    int m_fd = -1;
    int m_port = 0;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
    std::mutex m_mutex;
    Response m_response;
    std::vector<std::string> m_requests;
    std::vector<int> m_held;
};

struct Posted {
    uint32_t msg;
    int64_t wParam, lParam;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Only loopback traffic: no proxy from the environment in between.
        for (const char* var : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                "all_proxy", "ALL_PROXY"})
            unsetenv(var);
        static int argc = 1;
        static char name[] = "test_engine";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
        ASSERT_TRUE(AttachRouterToQt());
        m_hwnd = platform::RouterCreateWindow([this](uint32_t, uint32_t msg, int64_t w, int64_t l) {
            m_posted.push_back({msg, w, l});
            return int64_t(0);
        });
        ASSERT_NE(m_hwnd, 0u);
        m_page = platform::FromUtf8("http://127.0.0.1:" + std::to_string(m_server.Port()) + "/svc");
        m_info.m_Texts[8] = m_page.c_str();
        ASSERT_TRUE(platform::ParseGuid("{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}", &m_info.m_Product));
    }

    void TearDown() override {
        Bind<FnExitEngine>(kExitEngine)();
        platform::RouterDestroyWindow(m_hwnd);
    }

    BOOL Check() {
        return Bind<FnCheckForUpdate>(kCheckForUpdate)(&m_info, u"reelpage", m_hwnd,
                                                       kMsgUpdateVersion);
    }

    // Lets the query thread finish (the server answers at once), then
    // delivers whatever it posted.
    void Settle() {
        const auto limit = std::chrono::steady_clock::now() + 30s; // only when broken
        while (UpdateCheckRunning() && std::chrono::steady_clock::now() < limit)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_FALSE(UpdateCheckRunning());
        platform::RouterDispatch();
    }

    static void SetLastTime(const uint64_t* value) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegCreateKeyMachineOrUser(kUpdateKey, &key), 0);
        if (value)
            ASSERT_EQ(platform::RegSetValue(key, u"LastTime", platform::REG_QWORD, value, 8), 0);
        else
            platform::RegDeleteValue(key, u"LastTime");
    }

    static uint64_t LastTime() {
        platform::RegKey key;
        uint64_t value = 0;
        uint32_t type = 0, size = 8;
        if (platform::RegCreateKeyMachineOrUser(kUpdateKey, &key) != 0 ||
            platform::RegQueryValue(key, u"LastTime", &type, &value, &size) != 0)
            return 0;
        EXPECT_EQ(type, platform::REG_QWORD);
        return value;
    }

    LoopbackServer m_server;
    std::unique_ptr<QCoreApplication> m_app;
    uint32_t m_hwnd = 0;
    std::u16string m_page;
    ProductInfo m_info{};
    std::vector<Posted> m_posted;
};

} // namespace

TEST_F(UpdateCheckTest, AnswerReachesTheMainWindowAsFourNumbers) {
    m_server.Answer({200, "2.1.0.15", false});
    const uint64_t before = platform::FileTimeNow();
    EXPECT_EQ(Check(), 1);
    Settle();
    ASSERT_EQ(m_posted.size(), 1u);
    EXPECT_EQ(m_posted[0].msg, kMsgUpdateVersion);
    EXPECT_EQ(m_posted[0].wParam, 0x20001);
    EXPECT_EQ(m_posted[0].lParam, 15);

    // The fixed path and query after the update page, the GUID in upper case
    // without braces, and the agent name.
    auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind(
                  "GET /svc/update.php?productid=%7B0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D%7D "
                  "HTTP/1.1\r\n",
                  0),
              0u)
        << requests[0];
    EXPECT_NE(requests[0].find("\r\nUser-Agent: Update\r\n"), std::string::npos) << requests[0];
    EXPECT_GE(LastTime(), before);
    EXPECT_LE(LastTime(), platform::FileTimeNow());
}

TEST_F(UpdateCheckTest, DueOnlyWhenTheLastCheckIsOverThreeDaysOldOrInTheFuture) {
    m_server.Answer({200, "1.0.0.0", false});
    const uint64_t now = platform::FileTimeNow();
    struct Case {
        const char* what;
        bool stored;
        uint64_t lastTime;
        bool due;
    } cases[] = {
        {"no LastTime", false, 0, true},
        {"two days ago", true, now - 2 * kDay, false},
        {"four days ago", true, now - 4 * kDay, true},
        {"a day ahead (clock set back)", true, now + kDay, true},
    };
    size_t requests = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastTime(c.stored ? &c.lastTime : nullptr);
        m_posted.clear();
        EXPECT_EQ(Check(), c.due ? 1 : 0);
        Settle();
        if (c.due) {
            ++requests;
            EXPECT_GE(LastTime(), now);
            EXPECT_LE(LastTime(), platform::FileTimeNow());
            EXPECT_EQ(m_posted.size(), 1u);
        } else {
            EXPECT_EQ(LastTime(), c.lastTime);
            EXPECT_TRUE(m_posted.empty());
        }
        EXPECT_EQ(m_server.Requests().size(), requests);
    }
}

TEST_F(UpdateCheckTest, OnlyAStrictVersionInASuccessfulAnswerIsPosted) {
    // Line ends alone would still leave a valid version: only the length
    // refuses this one.
    std::string padding;
    for (int i = 0; i < 100; ++i) padding += "\r\n";
    struct Case {
        int status;
        std::string body;
        bool posted;
    } cases[] = {
        {200, "2.1.0.15\r\n", true},
        {404, "404 Not Found", false},
        {404, "2.1.0.15", false},
        {500, "2.1.0.15", false},
        {200, "2.1.0", false},
        {200, "2.1.0.15.4", false},
        {200, "2.1.0.65536", false},
        {200, "v2.1.0.15", false},
        {200, "", false},
        {200, "2.1.0.15" + padding, false},               // over 100 bytes
        {200, "2.1.0.15" + std::string(4 << 20, 'x'), false}, // far over: reading stops
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body.substr(0, 20));
        SetLastTime(nullptr);
        m_posted.clear();
        m_server.Answer({c.status, c.body, false});
        EXPECT_EQ(Check(), 1);
        Settle();
        EXPECT_EQ(m_posted.size(), c.posted ? 1u : 0u);
    }
}

TEST_F(UpdateCheckTest, ASilentServerEndsByTheTimeOutWithoutAMessage) {
    m_server.Answer({200, "", true});
    // Short, yet long enough for a loaded machine to get the request to the
    // server before the time runs out.
    SetUpdateTransferTimeoutForTesting(1500);
    EXPECT_EQ(Check(), 1);
    Settle();
    EXPECT_TRUE(m_posted.empty());
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(UpdateCheckTest, ExitAbortsAQueryTheServerNeverAnswers) {
    m_server.Answer({200, "", true});
    EXPECT_EQ(Check(), 1);
    const auto limit = std::chrono::steady_clock::now() + 30s; // only when broken
    while (m_server.Requests().empty() && std::chrono::steady_clock::now() < limit)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(m_server.Requests().size(), 1u);
    ASSERT_TRUE(UpdateCheckRunning());

    const auto start = std::chrono::steady_clock::now();
    Bind<FnExitEngine>(kExitEngine)();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(UpdateCheckRunning());
    // Well inside the transfer time-out: the exit aborted the query rather
    // than waiting it out.
    EXPECT_LT(took, std::chrono::milliseconds(kUpdateTransferTimeout / 6));
    platform::RouterDispatch();
    EXPECT_TRUE(m_posted.empty());
}

TEST_F(UpdateCheckTest, NoAddressNoCheckAndTheStoreUntouched) {
    for (const char16_t* page : {static_cast<const char16_t*>(nullptr), u""}) {
        m_info.m_Texts[8] = page;
        EXPECT_EQ(Check(), 0);
        EXPECT_FALSE(UpdateCheckRunning());
    }
    for (auto root : {platform::RegRoot::LocalMachine, platform::RegRoot::CurrentUser}) {
        platform::RegKey key;
        EXPECT_EQ(platform::RegOpenKey(root, kUpdateKey, &key),
                  platform::ERROR_FILE_NOT_FOUND);
    }
    EXPECT_TRUE(m_server.Requests().empty());
}

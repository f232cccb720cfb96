#include "system/RouterQt.h"

#include "platform/router.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

TEST(RouterQt, DeliversMessagesFromAnotherThreadOnTheUiThread) {
    int argc = 1;
    char name[] = "test_engine";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ASSERT_TRUE(reelpage::AttachRouterToQt());
    ASSERT_TRUE(reelpage::AttachRouterToQt());
    EXPECT_EQ(app.findChildren<reelpage::RouterQt*>().size(), 1);

    const std::thread::id ui = std::this_thread::get_id();
    std::vector<std::pair<uint32_t, std::thread::id>> seen;
    uint32_t hwnd = platform::RouterCreateWindow([&](uint32_t, uint32_t msg, int64_t w, int64_t) {
        seen.emplace_back(msg, std::this_thread::get_id());
        if (msg == 0x403) app.quit();
        return w * 3;
    });
    ASSERT_NE(hwnd, 0u);
    int64_t sendResult = 0;
    std::thread worker([&] {
        platform::PostMessage(hwnd, 0x401, 1, 0);
        sendResult = platform::SendMessage(hwnd, 0x402, 14, 0);
        platform::PostMessage(hwnd, 0x403, 0, 0);
    });
    QTimer::singleShot(10000, &app, [&] { app.exit(1); }); // only when delivery is broken
    EXPECT_EQ(app.exec(), 0);
    worker.join();
    platform::RouterDestroyWindow(hwnd);

    EXPECT_EQ(sendResult, 42);
    ASSERT_EQ(seen.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].first, 0x401 + i);
        EXPECT_EQ(seen[i].second, ui);
    }
}

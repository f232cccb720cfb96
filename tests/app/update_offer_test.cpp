// The update offer from end to end: the main window's first showing starts
// the engine's check, the answer of an update service on the loopback
// interface crosses the engine's thread and the message router, and the main
// window asks the question.
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cstdlib>
#include <string>

#include "Functions.h"
#include "LowInterface.h"
#include "Main.h"
#include "app_test_support.h"
#include "reelpage/exports.h"

using namespace reelpage::app;

TEST(UpdateOffer, ANewerVersionFromTheServiceBecomesTheQuestion) {
    for (const char* var : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(var);
    apptest::UseProgramFolder();
    apptest::StandInMainWindowEngine();
    Low.CheckForUpdate.Set(reelpage::Bind<reelpage::FnCheckForUpdate>(reelpage::kCheckForUpdate));
    ASSERT_EQ(apptest::StartEngineOnce(), 0);

    // One version above the program's own, as the service writes it.
    const QByteArray body = VersionToText(GetProgramVersion() + 1).toLatin1();
    QByteArray request;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            request += socket->readAll();
            if (!request.contains("\r\n\r\n")) return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    const std::u16string page =
        u"http://127.0.0.1:" + QString::number(server.serverPort()).toStdU16String() + u"/";
    AppProductInfo.m_Texts[kProductUpdatePage] = page.c_str();

    apptest::MessageRecorder messages(QMessageBox::No);
    {
        TfrmMain main;
        main.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !messages.shown.empty(); }, 20000));
        ASSERT_EQ(messages.shown.size(), 1u) << body.toStdString();
        EXPECT_EQ(messages.shown[0].text, "New version detected, do you want to update?");
        EXPECT_TRUE(request.startsWith("GET /update.php?productid=%7B")) << request.toStdString();
        main.hide();
    }
    Low.ExitEngine();
    AppProductInfo.m_Texts[kProductUpdatePage] = nullptr;
}

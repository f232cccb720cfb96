// The program as a user starts it: a second start brings the first program's
// window forward and ends at once.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <unistd.h>

#include "app_test_support.h"

namespace {

QString LogFile() {
    QDirIterator it(qEnvironmentVariable("REELPAGE_TEST_HOME"), {QStringLiteral("reelpage.log")},
                    QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Prepare(QProcess& process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(REELPAGE_PROGRAM_DIR "/reelpage"));
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
}

} // namespace

// Logout (SIGTERM), Ctrl-C in its terminal and a closed terminal end the
// program through its normal exit, not by dying on the spot.
TEST(StopSignals, EndTheProgramThroughItsNormalExit) {
    apptest::EnsureApplication();
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QProcess program;
        Prepare(program);
        program.start();
        ASSERT_TRUE(program.waitForStarted(10000));
        // The log is opened after the program has taken its signals over.
        ASSERT_TRUE(apptest::WaitFor([&] { return !LogFile().isEmpty(); }, 30000));
        kill(pid_t(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        QFile::remove(LogFile());
    }
}

TEST(SecondStart, BringsTheFirstWindowForwardAndEnds) {
    apptest::EnsureApplication();
    QProcess first;
    Prepare(first);
    first.start();
    ASSERT_TRUE(first.waitForStarted(10000));

    // The log appears once the first program has entered the instance, so
    // from then on every further start is a second one.
    QString log;
    ASSERT_TRUE(apptest::WaitFor([&] { return !(log = LogFile()).isEmpty(); }, 30000))
        << "the first program did not start";

    const QByteArray raised = "Brought to the front by another start of the program";
    int starts = 0;
    bool seen = false;
    for (int attempt = 0; attempt < 60 && !seen; ++attempt) {
        QProcess second;
        Prepare(second);
        second.start();
        ASSERT_TRUE(second.waitForFinished(20000)) << "a second start must end by itself";
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        ++starts;
        // Until the first program shows its window there is nothing to raise.
        seen = apptest::WaitFor([&] { return ReadAll(log).contains(raised); }, 500);
    }
    EXPECT_TRUE(seen) << "after " << starts << " second starts";
    EXPECT_EQ(first.state(), QProcess::Running) << "the first program goes on";
    // Only the first program ever got as far as a main window of its own.
    EXPECT_EQ(ReadAll(log).count(raised), 1);

    first.terminate();
    if (!first.waitForFinished(10000)) {
        first.kill();
        first.waitForFinished(10000);
    }
}

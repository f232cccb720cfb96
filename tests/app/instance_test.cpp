// The program as a user starts it: a second start brings the first program's
// window forward and ends at once; `reelpage FILE` imports FILE, in the first
// program when one runs.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <unistd.h>

#include "app_test_support.h"
#include "media_fixtures.h"

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

void Prepare(QProcess& process, const QStringList& arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(REELPAGE_PROGRAM_DIR "/reelpage"));
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
}

void End(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

// Waits until the run's log holds line; the log appears once the program
// has started its engine.
bool LogShows(const QByteArray& line, int ms) {
    return apptest::WaitFor(
        [&] {
            QString log = LogFile();
            return !log.isEmpty() && ReadAll(log).contains(line);
        },
        ms);
}

QString TestFile(const char* name) {
    return qEnvironmentVariable("REELPAGE_TEST_HOME") + QChar('/') + QString::fromLatin1(name);
}

QByteArray ImportLine(const QString& file, const char* outcome) {
    return QStringLiteral("Import of %1 asked from outside the program: %2")
        .arg(file, QString::fromLatin1(outcome))
        .toUtf8();
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

TEST(OpenFile, FirstStartImportsItsFileAndASecondStartHandsItsOwnOver) {
    apptest::EnsureApplication();
    const QString a = TestFile("first.mp4"), b = TestFile("second clip.mp4");
    ASSERT_TRUE(testing_media::MakeRamp(a.toStdString(), 1.0, 10));
    ASSERT_TRUE(testing_media::MakeRamp(b.toStdString(), 1.0, 10));

    QProcess first;
    Prepare(first, {a});
    first.start();
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(LogShows(ImportLine(a, "imported"), 60000)) << ReadAll(LogFile()).constData();

    // A relative name is the second start's own: it hands over a full path.
    QProcess second;
    Prepare(second, {QStringLiteral("second clip.mp4")});
    second.setWorkingDirectory(qEnvironmentVariable("REELPAGE_TEST_HOME"));
    second.start();
    ASSERT_TRUE(second.waitForFinished(20000)) << "a second start must end by itself";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(LogShows(ImportLine(b, "imported"), 60000)) << ReadAll(LogFile()).constData();
    EXPECT_TRUE(ReadAll(LogFile()).contains("Brought to the front by another start"));
    EXPECT_EQ(first.state(), QProcess::Running) << "the first program goes on";
    End(first);
}

TEST(OpenFile, FilesThatCannotBeImportedGetTheImportsOwnMessages) {
    apptest::EnsureApplication();
    const QString text = TestFile("notes.mp4"), tone = TestFile("tone.m4a");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write("not a video at all\n"), 19);
    }
    ASSERT_TRUE(
        testing_media::Ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", tone.toStdString()}));
    const struct {
        QString file;
        const char* message;
    } cases[] = {
        {TestFile("missing.mp4"), "Unable to read file information or file does not exist."},
        {text, "Not support this file."},
        {tone, "Not a movie file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QByteArray shown = QByteArray("Error shown: ") + c.message;
        const qsizetype before = ReadAll(LogFile()).count(shown);
        QProcess program;
        Prepare(program, {c.file});
        program.start();
        ASSERT_TRUE(program.waitForStarted(10000));
        EXPECT_TRUE(
            apptest::WaitFor([&] { return ReadAll(LogFile()).count(shown) > before; }, 60000))
            << ReadAll(LogFile()).constData();
        // The message box is still up, so the import has not come back.
        EXPECT_EQ(program.state(), QProcess::Running);
        End(program);
    }
}

TEST(OpenFile, AFileGivenWhileTheFirstProgramIsStillStartingIsNotLost) {
    apptest::EnsureApplication();
    const QString clip = TestFile("early.mp4");
    ASSERT_TRUE(testing_media::MakeRamp(clip.toStdString(), 1.0, 10));
    // Started together: whichever enters first stays, the other ends at once;
    // either way the file is imported by the one that stays.
    QProcess plain, withFile;
    Prepare(plain);
    Prepare(withFile, {clip});
    plain.start();
    withFile.start();
    ASSERT_TRUE(plain.waitForStarted(10000));
    ASSERT_TRUE(withFile.waitForStarted(10000));
    EXPECT_TRUE(LogShows(ImportLine(clip, "imported"), 60000)) << ReadAll(LogFile()).constData();
    QProcess* ended = nullptr;
    ASSERT_TRUE(apptest::WaitFor(
        [&] {
            for (QProcess* p : {&plain, &withFile})
                if (p->state() == QProcess::NotRunning) ended = p;
            return ended != nullptr;
        },
        30000))
        << "one of the two must end by itself";
    EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ended->exitCode(), 0);
    End(plain);
    End(withFile);
}

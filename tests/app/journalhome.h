// What the journal tests share: a private home for the test and the programs
// it starts, the state and log folders in it, and waiting on the disk.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <gtest/gtest.h>

namespace q274test {

inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Polls pred every 20 ms: the programs under test write on their own time.
inline bool PollFor(const std::function<bool()> &pred, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class JournalHomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_STATE_HOME");
        QDir(home.path()).mkpath(QStringLiteral("Documents/Q274"));
    }
    void TearDown() override { qputenv("HOME", FOldHome); }
    QString State() const { return home.filePath(QStringLiteral(".local/state/q274")); }
    QString LogFolder() const { return home.filePath(QStringLiteral("Documents/Q274")); }

    QTemporaryDir home;
    QByteArray FOldHome;
};

} // namespace q274test

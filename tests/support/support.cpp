#include "support.h"

#include "uisync.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdlib>

#include <gtest/gtest.h>

namespace q274test {

using q274::UiSync;

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ok = false;
    UiSync::WaitUntil(
        [&] {
            ok = done();
            return ok || std::chrono::steady_clock::now() >= deadline;
        },
        5ms);
    return ok;
}

void Pump(std::chrono::milliseconds span)
{
    const auto end = std::chrono::steady_clock::now() + span;
    UiSync::WaitUntil([&] { return std::chrono::steady_clock::now() >= end; }, 5ms);
}

bool RunUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        UiSync::ProcessPending();
    }
    return true;
}

QStringList Lines(const QString &logText)
{
    QStringList l = logText.split(QStringLiteral("\r\n"));
    EXPECT_TRUE(l.last().isEmpty()) << "every line ends with CR LF";
    l.removeLast();
    return l;
}

QStringList Messages(const QString &viewText, const QString &indent)
{
    QStringList out;
    for (const QString &line : viewText.split(QLatin1Char('\n'))) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        QString text = line.mid(tab);
        if (text.startsWith(indent))
            text = text.mid(indent.size());
        out << text;
    }
    return out;
}

TemporaryHome::TemporaryHome()
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/q274-home-XXXXXX"));
    if (const char *made = ::mkdtemp(pattern.data()))
        path = QFile::decodeName(made);
    setenv("HOME", pattern.constData(), 1);
    setenv("XDG_CONFIG_HOME", (pattern + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", (pattern + "/.local/share").constData(), 1);
    setenv("XDG_CACHE_HOME", (pattern + "/.cache").constData(), 1);
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_DOCUMENTS_DIR");
}

bool TemporaryHome::InUse()
{
    return qEnvironmentVariable("HOME").startsWith(QDir::tempPath() + QStringLiteral("/q274-home-"));
}

TemporaryHome::~TemporaryHome()
{
    if (!path.isEmpty())
        QDir(path).removeRecursively();
}

} // namespace q274test

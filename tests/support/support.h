// Helpers the tests share: waiting on the user-interface thread for what
// workers and the event loop deliver, and reading the log view back as
// messages.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <ostream>

QT_BEGIN_NAMESPACE
// Readable failure messages. Every file of a test program that prints a
// QString includes this header, so that all print it alike.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace q274test {

using namespace std::chrono_literals;

// Generous: the suite also runs under the sanitizers on a busy machine.
constexpr std::chrono::milliseconds kPatience = 20s;

// On the user-interface thread: runs the hand-offs until done() holds or the
// limit passes; returns done() as last seen.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit = 10s);

// A private home folder for the whole test program: the log folder and the
// journal go under HOME, so the real home stays untouched. Create one as a
// global object, before anything asks for those folders; the shared test
// main makes one for every program that has none.
struct TemporaryHome {
    QString path;
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome &) = delete;
    TemporaryHome &operator=(const TemporaryHome &) = delete;
    // Whether HOME is already one of these.
    static bool InUse();
};

// Keeps running the hand-offs for a while (to see that nothing more arrives).
void Pump(std::chrono::milliseconds span);

// Runs the Qt event loop and the hand-offs until done() holds or the limit
// passes; for work that also arrives through Qt events (port notifiers).
bool RunUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = kPatience);

// The indent the program puts before an event message.
inline const QString kIndent = QStringLiteral("\t   \t   \t   \t\t  ");

// The lines of a log text whose every line ends with CR LF (checked).
QStringList Lines(const QString &logText);

// The event messages of a log view's text, without timestamp and indent.
QStringList Messages(const QString &viewText, const QString &indent);

} // namespace q274test

// Q274TCstd [--port NAME] [--profile FILE] [LOG...]: the desktop front end of the Q274 temperature
// controller board.
#include "application.h"
#include "dialogs.h"
#include "dmq274.h"
#include "look.h"
#include "mainwindow.h"
#include "quitsignals.h"
#include "setupdialog.h"
#include "shellrules.h"
#include "uisync.h"

#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdio>
#include <memory>

namespace {

struct Options {
    QString port;
    QString profile;
    QString screenshot;
    bool logPage = false;
    QStringList logs;
};

// Parsed before the window system is touched, so --help and --version work
// without a display.
Options ParseCommandLine(int argc, char **argv)
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Q274TCstd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q274_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Q274 Temperature Controller Standard"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOption(QStringLiteral("port"),
                                  QStringLiteral("Serial port to use: a device path or a name such as ttyUSB0."),
                                  QStringLiteral("NAME"));
    parser.addOption(portOption);
    QCommandLineOption profileOption(
        QStringLiteral("profile"),
        QStringLiteral("Settings of the run: applied at start, every change written back; created when missing."),
        QStringLiteral("FILE"));
    parser.addOption(profileOption);
    // Saves a picture of the window and exits (documentation, checks).
    QCommandLineOption shotOption(QStringLiteral("screenshot"), QStringLiteral("Save a picture of the window."),
                                  QStringLiteral("FILE"));
    shotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(shotOption);
    QCommandLineOption logPageOption(QStringLiteral("show-log-page"), QStringLiteral("Start on the Log page."));
    logPageOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(logPageOption);
    parser.addPositionalArgument(QStringLiteral("LOG"), QStringLiteral("Log files to show on the Chart page."),
                                 QStringLiteral("[LOG...]"));
    parser.process(core);

    return {parser.value(portOption), parser.value(profileOption), parser.value(shotOption),
            parser.isSet(logPageOption), parser.positionalArguments()};
}

// Without a display Qt aborts with advice to reinstall, which misleads; say
// what is missing instead. A platform the user picked (QT_QPA_PLATFORM, such
// as offscreen) is left to Qt, and so is a Wayland session. Empty: a display
// is there; otherwise why there is none.
QString MissingDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return {};
    const bool wayland = platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland)
        return {};
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return platform.isEmpty() ? QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set")
                                  : QStringLiteral("DISPLAY is not set");
    // An X server that is gone, or refuses us, is as good as none.
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool dead = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (dead)
        return QStringLiteral("the X display %1 does not answer").arg(qEnvironmentVariable("DISPLAY"));
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = ParseCommandLine(argc, argv);
    if (const QString missing = MissingDisplay(); !missing.isEmpty()) {
        std::fprintf(stderr,
                     "Q274TCstd needs a graphical desktop, but no display was found (%s).\n"
                     "Start it from a desktop session.\n",
                     missing.toLocal8Bit().constData());
        return 1;
    }

    // Task bars and Wayland match the window to the desktop entry q274tc.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("q274tc"));
    q274::TApplication app(argc, argv);
    QIcon icon;
    for (const char *size : {"48", "128", "256"})
        icon.addFile(QStringLiteral(":/icons/q274tc-%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    QCoreApplication::setApplicationName(QStringLiteral("Q274TCstd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q274_VERSION));
    q274::SetApplicationTitle(QStringLiteral("Q274 Temperature Controller Standard"));
    q274::UiSync::SetMainThread();
    q274::SetApplicationLook();

    // The COM Port button's dialog runs through the dialog seam and edits the
    // error policy of the connection object that owns the port.
    q274::SetSetupDialogRunner(
        [](QDialog &dialog) { return q274::CurrentDialogs().RunDialog(dialog, QStringLiteral("port setup")); });
    q274::InstallSetupDialog([](q274::TCustomComPort &port) -> QString * {
        auto *dm = dynamic_cast<q274::TdmQ274 *>(port.parent());
        return dm ? dm->ErrorPolicySetting() : nullptr;
    });

    // The connection object comes first: it makes sure of the log folder
    // before the window exists, and outlives the window.
    q274::TdmQ274 dmQ274;
    if (!options.port.isEmpty())
        dmQ274.ComPort()->SetPort(options.port);

    q274::TfrmMain frmMain(&dmQ274);
    // The window previews every key of the program before the focused
    // control: its shortcuts work wherever the focus is.
    app.installEventFilter(&frmMain);
    // A shutdown, a logout or Ctrl+C: the quiet end, then a normal exit.
    // Set before the journal starts, so no journal is left to a signal.
    q274::TQuitSignals quitSignals([&frmMain](int) {
        frmMain.QuietEnd();
        QCoreApplication::exit(0);
    });
    frmMain.show();
    frmMain.StartJournal(q274::TJournal::DefaultFolder());
    if (!options.profile.isEmpty() && frmMain.UseProfile(options.profile)) {
        // --port is this run's choice: it wins over the profile's port for
        // this run and leaves the file's name as it is.
        if (!options.port.isEmpty())
            dmQ274.ComPort()->SetPort(options.port);
        frmMain.StartUnattended();
    }
    if (options.logPage)
        frmMain.ShowLogPage();
    // Once the window is up, so a file that cannot be read is said in it.
    if (!options.logs.isEmpty())
        QTimer::singleShot(0, &frmMain, [&frmMain, logs = options.logs] { frmMain.OpenLogs(logs); });

    if (!options.screenshot.isEmpty()) {
        QTimer::singleShot(800, &frmMain, [&frmMain, file = options.screenshot] {
            const bool ok = frmMain.grab().save(file);
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}

// Q274TCstd [--port NAME]: the desktop front end of the Q274 temperature
// controller board.
#include "application.h"
#include "mainwindow.h"
#include "shellrules.h"
#include "uisync.h"

#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char **argv)
{
    q274::TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Q274TCstd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q274_VERSION));
    q274::SetApplicationTitle(QStringLiteral("Q274 Temperature Controller Standard"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Q274 Temperature Controller Standard"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOption(QStringLiteral("port"),
                                  QStringLiteral("Serial port to use: a device path or a name such as ttyUSB0."),
                                  QStringLiteral("NAME"));
    parser.addOption(portOption);
    // Saves a picture of the window and exits (documentation, checks).
    QCommandLineOption shotOption(QStringLiteral("screenshot"), QStringLiteral("Save a picture of the window."),
                                  QStringLiteral("FILE"));
    shotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(shotOption);
    parser.process(app);

    q274::UiSync::setMainThread();
    q274::TfrmMain frmMain;
    if (parser.isSet(portOption))
        frmMain.PortName = parser.value(portOption);
    frmMain.show();

    if (parser.isSet(shotOption)) {
        const QString file = parser.value(shotOption);
        QTimer::singleShot(800, &frmMain, [&frmMain, file] {
            const bool ok = frmMain.grab().save(file);
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}

// The main window's widgets: the button column, the read-out strip, the
// Control page with its four channel panels and the Log page, their captions
// and the per-channel access to them.
#include "mainwindow.h"

#include "accessnames.h"
#include "chartpage.h"
#include "controls.h"
#include "look.h"
#include "namedcombo.h"
#include "rstrings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <stdexcept>

namespace q274 {

namespace {
const QColor kCaptionText(45, 45, 45);
const QColor kLogText(44, 44, 44);
const QColor kLogBackground(249, 249, 249);

QFont SansFont(int pixels, bool bold = false) { return LayoutFont(pixels, bold); }
} // namespace

// ---------------------------------------------------------------- layout

void TfrmMain::BuildLayout()
{
    // Group-box captions sit on the frame line, interrupting it, so the boxes
    // read as labelled frames rather than as boxes under a heading.
    setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid rgb(160, 160, 160); border-radius: 2px; margin-top: 7px;"
                       " background: transparent; }"
                       "QTabWidget::pane { border: 1px solid rgb(160, 160, 160); background: rgb(221, 219, 213); }"
                       "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px;"
                       " padding: 0px 1px; background-color: rgb(221, 219, 213); }"));
    bvlTop = EtchedLine(this, "bvlTop", 0, 0, kClientWidth);
    BuildButtonColumn();
    BuildReadoutStrip();

    pgMain = Make<TPageControl>(this, "pgMain", 0, 77, kClientWidth - 120, kClientHeight - 77);
    tabControl = new QWidget;
    tabControl->setObjectName(QStringLiteral("tabControl"));
    tabLog = new QWidget;
    tabLog->setObjectName(QStringLiteral("tabLog"));
    pgMain->addTab(tabControl, rs::sTabControl);
    pgMain->addTab(tabLog, rs::sTabLog);
    tabChart = new QWidget;
    tabChart->setObjectName(QStringLiteral("tabChart"));
    pgMain->addTab(tabChart, QStringLiteral("Chart"));
    BuildControlPage();
    BuildLogPage();
    BuildChartPage();
    BuildAlarmsPage();
    pgMain->setAccessibleName(QStringLiteral("Pages"));
    pgMain->tabBar()->setAccessibleName(QStringLiteral("Page tabs"));
}

void TfrmMain::BuildButtonColumn()
{
    pnlButtons = Make<QWidget>(this, "pnlButtons", kClientWidth - 120, 2, 120, kClientHeight - 2);

    lblTDisplay = Make<QLabel>(pnlButtons, "lblTDisplay", 11, 8, 98, 31);
    lblLogEnable = Make<QLabel>(pnlButtons, "lblLogEnable", 11, 154, 98, 33);
    for (QLabel *l : {lblTDisplay, lblLogEnable}) {
        l->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        l->setWordWrap(true);
        SetTextColor(l, kCaptionText);
    }
    lblTDisplay->setText(rs::sTemperatureDisplay);
    lblLogEnable->setText(rs::sEnableLogging);

    cmbDeg = Make<TNamedComboBox>(pnlButtons, "cmbDeg", 40, 43, 41, 26);
    cmbDeg->addItems({QStringLiteral("C"), QStringLiteral("F")});
    cmbDeg->setCurrentIndex(0);
    cmbDeg->setFont(SansFont(16, true));
    cmbDeg->setAccessibleName(QStringLiteral("Temperature unit"));
    lblTDisplay->setBuddy(cmbDeg);

    btnCOM = Make<QPushButton>(pnlButtons, "btnCOM", 11, 112, 98, 23);
    btnCOM->setText(QStringLiteral("COM Port"));

    chkLog = Make<QCheckBox>(pnlButtons, "chkLog", 53, 188, 35, 17);
    chkLog->setChecked(true);
    chkLog->setAccessibleName(QStringLiteral("Enable logging"));
    lblLogEnable->setBuddy(chkLog);

    lblSaveCount = Make<QLabel>(pnlButtons, "lblSaveCount", 11, 203, 98, 19);
    lblSaveCount->setText(QStringLiteral("0"));
    lblSaveCount->setAlignment(Qt::AlignCenter);
    lblSaveCount->setFont(SansFont(12, true));
    SetTextColor(lblSaveCount, QColor(128, 128, 128));
    lblSaveCount->setToolTip(QStringLiteral("Autosave Log count"));

    bvlButtons = EtchedLine(pnlButtons, "bvlButtons", 7, 230, 106);

    btnClearLog = Make<QPushButton>(pnlButtons, "btnClearLog", 11, 253, 98, 23);
    btnClearLog->setText(QStringLiteral("Clear Log"));
    btnLogSave = Make<QPushButton>(pnlButtons, "btnLogSave", 11, 283, 98, 23);
    btnLogSave->setText(QStringLiteral("Save Log"));
    btnHelp = Make<QPushButton>(pnlButtons, "btnHelp", 11, 367, 98, 23);
    btnHelp->setText(QStringLiteral("Help"));
    btnAbout = Make<QPushButton>(pnlButtons, "btnAbout", 11, 397, 98, 23);
    btnAbout->setText(QStringLiteral("About"));
    btnConn = Make<QPushButton>(pnlButtons, "btnConn", 11, 491, 98, 23);
    btnConn->setText(rs::sConnect);
    for (QPushButton *b : {btnCOM, btnClearLog, btnLogSave, btnHelp, btnAbout, btnConn})
        b->setFont(SansFont(13));

    connect(cmbDeg, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cmbDegChange(); }); });
    connect(chkLog, &QCheckBox::clicked, this, [this] { Guarded([this] { chkLogClick(); }); });
    connect(btnCOM, &QPushButton::clicked, this, [this] { Guarded([this] { btnCOMClick(); }); });
    connect(btnClearLog, &QPushButton::clicked, this, [this] { Guarded([this] { btnClearLogClick(); }); });
    connect(btnLogSave, &QPushButton::clicked, this, [this] { Guarded([this] { btnLogSaveClick(); }); });
    connect(btnHelp, &QPushButton::clicked, this, [this] { Guarded([this] { btnHelpClick(); }); });
    connect(btnAbout, &QPushButton::clicked, this, [this] { Guarded([this] { btnAboutClick(); }); });
    connect(btnConn, &QPushButton::clicked, this, [this] { Guarded([this] { btnConnClick(); }); });
}

void TfrmMain::BuildReadoutStrip()
{
    pnlReadouts = Make<QWidget>(this, "pnlReadouts", 0, 2, kClientWidth - 120, 75);
    pnlReadouts->setAccessibleName(QStringLiteral("Temperatures"));
    const int xs[] = {16, 202, 388, 575};
    QGroupBox **boxes[] = {&gbCh1, &gbCh2, &gbCh3, &gbCh4};
    QLabel **labels[] = {&lblCh1, &lblCh2, &lblCh3, &lblCh4};
    TShape **shapes[] = {&shp1, &shp2, &shp3, &shp4};
    for (int i = 0; i < 4; ++i) {
        const int ch = i + 1;
        auto *gb = Make<QGroupBox>(pnlReadouts, "", xs[i], 7, 140, 60);
        gb->setObjectName(ChannelName("gbCh", ch));
        gb->setFont(SansFont(12, true));
        SetTextColor(gb, kCaptionText);
        gb->setTitle(rs::ChannelCaption(ch));

        auto *lbl = Make<QLabel>(gb, "", 2, 24, 135, 32);
        lbl->setObjectName(ChannelName("lblCh", ch));
        lbl->setAutoFillBackground(true);
        QPalette p = lbl->palette();
        p.setColor(QPalette::Window, Qt::white);
        lbl->setPalette(p);
        lbl->setFont(SansFont(19, true));
        lbl->setText(QStringLiteral(" -"));
        lbl->setToolTip(QStringLiteral("Ch%1  Temperature").arg(ch));
        lbl->setAccessibleName(ReadoutAccessibleName(ch, lbl->text(), false));

        // Created after the read-out so it is drawn on top of it.
        auto *shp = Make<TShape>(gb, "", 115, 32, 16, 16);
        shp->setObjectName(ChannelName("shp", ch));
        shp->setToolTip(QStringLiteral("Ch%1  Relay").arg(ch));
        shp->setAccessibleName(RelayLampAccessibleName(ch, std::nullopt));

        *boxes[i] = gb;
        *labels[i] = lbl;
        *shapes[i] = shp;
    }
}

void TfrmMain::BuildControlPage()
{
    const int xs[] = {12, 198, 385, 572};
    for (int ch = 1; ch <= 4; ++ch) {
        auto &panel = FPanels[std::size_t(ch - 1)];
        panel = std::make_unique<TChannelPanel>(tabControl, ch, xs[ch - 1]);
        const TChannelPanel &p = *panel;
        // A change anywhere re-reads all four panels.
        const auto apply = [this] { Guarded([this] { ApplySettings(); }); };
        connect(p.Enable, &QCheckBox::clicked, this, apply);
        for (QLineEdit *e : {p.SetPoint, p.Dropout})
            connect(e, &QLineEdit::textChanged, this, apply);
        for (TUpDown *u : {p.SetPointSpinner, p.DropoutSpinner})
            connect(u, &TUpDown::clicked, this, apply);
        connect(p.Mode, &QComboBox::currentIndexChanged, this, apply);
        connect(p.Override, &QCheckBox::clicked, this, apply);
        QPushButton *btn = p.RelayButton;
        connect(btn, &QPushButton::clicked, this,
                [this, btn] { Guarded([this, btn] { btnR1Click(btn->property("Tag").toInt()); }); });
    }
}

void TfrmMain::BuildLogPage()
{
    auto *outer = new QHBoxLayout(tabLog);
    outer->setContentsMargins(0, 0, 0, 0);
    pnlLog = new QFrame(tabLog);
    pnlLog->setObjectName(QStringLiteral("pnlLog"));
    pnlLog->setFrameShape(QFrame::Box);
    pnlLog->setFrameShadow(QFrame::Plain);
    pnlLog->setLineWidth(1);
    pnlLog->setAutoFillBackground(true);
    QPalette pp = pnlLog->palette();
    pp.setColor(QPalette::Window, kLogBackground);
    pp.setColor(QPalette::WindowText, QColor(160, 160, 160));
    pnlLog->setPalette(pp);
    outer->addWidget(pnlLog);

    auto *inner = new QHBoxLayout(pnlLog);
    inner->setContentsMargins(4, 0, 0, 0); // the 4-pixel strip on the left
    memLog = new TLogView(pnlLog);
    memLog->setObjectName(QStringLiteral("memLog"));
    // Not "Log": that is the page tab's name.
    memLog->setAccessibleName(QStringLiteral("Log view"));
    memLog->setAccessibleDescription(QStringLiteral("F6 focuses the log, Esc goes back"));
    memLog->installEventFilter(this); // Esc, whoever previews the keys
    memLog->setReadOnly(true);
    memLog->setFrameShape(QFrame::NoFrame);
    memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memLog->setContextMenuPolicy(Qt::PreventContextMenu);
    memLog->setFocusPolicy(Qt::ClickFocus); // skipped by Tab
    memLog->setTabChangesFocus(true);
    memLog->setUndoRedoEnabled(false);
    memLog->setFont(LayoutMonoFont(13));
    // Tab stops every 8 columns, so message lines and data columns line up.
    memLog->setTabStopDistance(QFontMetricsF(memLog->font()).horizontalAdvance(QLatin1Char(' ')) * 8);
    QPalette mp = memLog->palette();
    mp.setColor(QPalette::Text, kLogText);
    mp.setColor(QPalette::Base, kLogBackground);
    // The selection stays visible while the view has no focus.
    mp.setColor(QPalette::Inactive, QPalette::Highlight, mp.color(QPalette::Active, QPalette::Highlight));
    mp.setColor(QPalette::Inactive, QPalette::HighlightedText, mp.color(QPalette::Active, QPalette::HighlightedText));
    memLog->setPalette(mp);
    inner->addWidget(memLog);
}

void TfrmMain::BuildChartPage()
{
    auto *outer = new QHBoxLayout(tabChart);
    outer->setContentsMargins(0, 0, 0, 0);
    Chart = new TChartPage(
        Recorder, Channels, [this] { return UseFahrenheit; }, tabChart);
    Chart->Folder = [this] { return LogFolder; };
    Chart->LabelLocale = [this] { return Locale; };
    outer->addWidget(Chart);
    Recorder.OnChanged = [this] { Chart->ScheduleRedraw(); };
}

void TfrmMain::OpenLogs(const QStringList &paths)
{
    pgMain->setCurrentWidget(tabChart);
    Chart->OpenLogs(paths);
}

void TfrmMain::ApplyCaptions()
{
    for (int ch = 1; ch <= 4; ++ch) {
        findChild<QGroupBox *>(ChannelName("gbCh", ch))->setTitle(rs::ChannelCaption(ch));
        Panel(ch).ApplyCaptions();
    }
    lblTDisplay->setText(rs::sTemperatureDisplay);
    lblLogEnable->setText(rs::sEnableLogging);
    pgMain->setTabText(pgMain->indexOf(tabControl), rs::sTabControl);
    pgMain->setTabText(pgMain->indexOf(tabLog), rs::sTabLog);
}

// ---------------------------------------------------------------- per channel

namespace {
template <typename T> T *Pick(int channel, T *a, T *b, T *c, T *d)
{
    switch (channel) {
    case 1: return a;
    case 2: return b;
    case 3: return c;
    case 4: return d;
    }
    throw std::out_of_range("channel number must be 1 to 4");
}
} // namespace

TChannelPanel &TfrmMain::Panel(int ch) const
{
    if (ch < 1 || ch > 4)
        throw std::out_of_range("channel number must be 1 to 4");
    return *FPanels[std::size_t(ch - 1)];
}

QLabel *TfrmMain::Readout(int ch) const { return Pick(ch, lblCh1, lblCh2, lblCh3, lblCh4); }
TShape *TfrmMain::Indicator(int ch) const { return Pick(ch, shp1, shp2, shp3, shp4); }
QCheckBox *TfrmMain::EnableBox(int ch) const { return Panel(ch).Enable; }

} // namespace q274

#include "mainwindow.h"

#include "about.h"
#include "application.h"
#include "dialogs.h"
#include "help.h"
#include "logfiles.h"
#include "look.h"
#include "protocol.h"
#include "relays.h"
#include "rstrings.h"
#include "shellrules.h"
#include "storeditems.h"
#include "thermostat.h"
#include "timestamp.h"

#include <QWindow>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>

#include <stdexcept>

namespace q274 {

namespace {

const QColor kBackground = kLayoutBackground;
const QColor kCaptionText(45, 45, 45);
const QColor kReadoutOpen(0, 0, 128);
const QColor kReadoutClosed(128, 128, 128);
const QColor kOutlineEnabled(255, 0, 0);
const QColor kOutlineDisabled(106, 106, 106);
const QColor kFillUnknown(192, 192, 192);
const QColor kFillOn(255, 0, 0);
const QColor kLogText(44, 44, 44);
const QColor kLogBackground(249, 249, 249);

QFont SansFont(int pixels, bool bold = false) { return LayoutFont(pixels, bold); }
QFont MonoFont(int pixels) { return LayoutMonoFont(pixels); }

void SetTextColor(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

template <typename T> T *Make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    T *c = new T(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(x, y, w, h);
    return c;
}

QFrame *EtchedLine(QWidget *parent, const char *name, int x, int y, int w)
{
    auto *f = Make<QFrame>(parent, name, x, y, w, 2);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

QString Name(const char *base, int channel)
{
    return QString::fromLatin1(base) + QString::number(channel);
}

// Line ends as the view stores them (one per QPlainTextEdit block).
QString ToViewText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

TfrmMain::TfrmMain(TdmQ274 *dm, QWidget *parent) : QWidget(parent), dmQ274(dm)
{
    if (!dmQ274) {
        ownedDm_ = std::make_unique<TdmQ274>();
        dmQ274 = ownedDm_.get();
    }
    // Polling stops with every disconnect; the data lines end with it.
    dmQ274->Poller.OnPollingStopped = [this] { StopDataLogging(); };
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowTitle(ApplicationTitle());
    // The layout's colours and font, whatever the desktop theme. Set for the
    // whole application: controls under the window's style sheet take the
    // application's palette and font, not the window's, and every window and
    // page then falls back to the same font.
    QApplication::setPalette(LayoutPalette());
    QApplication::setFont(SansFont(12));
    setPalette(LayoutPalette());
    setAutoFillBackground(true);
    setFont(SansFont(12));

    BuildLayout();
    FormCreate();
    dmQ274->SetHost(this);
}

TfrmMain::~TfrmMain()
{
    EndDataLineWorker();
    // Nothing may reach a window that is being taken apart: the connection
    // loses its host, and the timers stop (dropping ticks already waiting)
    // before they go, ahead of the widgets their handlers touch.
    dmQ274->SetHost(nullptr);
    dmQ274->Poller.OnPollingStopped = nullptr;
    // The handler captures this window.
    SetAppExceptionHandler({});
}

// ---------------------------------------------------------------- layout

void TfrmMain::BuildLayout()
{
    // Group-box captions sit on the frame line, interrupting it, as the
    // channel boxes and panels are drawn on the desktop the layout comes from.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid rgb(160, 160, 160); border-radius: 2px; margin-top: 7px;"
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
    BuildControlPage();
    BuildLogPage();
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

    cmbDeg = Make<QComboBox>(pnlButtons, "cmbDeg", 40, 43, 41, 26);
    cmbDeg->addItems({QStringLiteral("C"), QStringLiteral("F")});
    cmbDeg->setCurrentIndex(0);
    cmbDeg->setFont(SansFont(16, true));

    btnCOM = Make<QPushButton>(pnlButtons, "btnCOM", 11, 112, 98, 23);
    btnCOM->setText(QStringLiteral("COM Port"));

    chkLog = Make<QCheckBox>(pnlButtons, "chkLog", 53, 188, 35, 17);
    chkLog->setChecked(true);

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
    const int xs[] = {16, 202, 388, 575};
    QGroupBox **boxes[] = {&gbCh1, &gbCh2, &gbCh3, &gbCh4};
    QLabel **labels[] = {&lblCh1, &lblCh2, &lblCh3, &lblCh4};
    TShape **shapes[] = {&shp1, &shp2, &shp3, &shp4};
    for (int i = 0; i < 4; ++i) {
        const int ch = i + 1;
        auto *gb = Make<QGroupBox>(pnlReadouts, "", xs[i], 7, 140, 60);
        gb->setObjectName(Name("gbCh", ch));
        gb->setFont(SansFont(12, true));
        SetTextColor(gb, kCaptionText);
        gb->setTitle(rs::ChannelCaption(ch));

        auto *lbl = Make<QLabel>(gb, "", 2, 24, 135, 32);
        lbl->setObjectName(Name("lblCh", ch));
        lbl->setAutoFillBackground(true);
        QPalette p = lbl->palette();
        p.setColor(QPalette::Window, Qt::white);
        lbl->setPalette(p);
        lbl->setFont(SansFont(19, true));
        lbl->setText(QStringLiteral(" -"));
        lbl->setToolTip(QStringLiteral("Ch%1  Temperature").arg(ch));

        // Created after the read-out so it is drawn on top of it.
        auto *shp = Make<TShape>(gb, "", 115, 32, 16, 16);
        shp->setObjectName(Name("shp", ch));
        shp->setToolTip(QStringLiteral("Ch%1  Relay").arg(ch));

        *boxes[i] = gb;
        *labels[i] = lbl;
        *shapes[i] = shp;
    }
}

void TfrmMain::BuildControlPage()
{
    const int xs[] = {12, 198, 385, 572};
    // Names of the window definition: the spinners are not numbered by panel.
    const char *spNames[] = {"edtSP1", "edtSp2", "edtSP3", "edtSP4"};
    const char *spSpin[] = {"UpDown1", "UpDown7", "UpDown5", "UpDown3"};
    const char *dropSpin[] = {"UpDown2", "UpDown8", "UpDown6", "UpDown4"};

    QGroupBox **gb[] = {&gbRC1, &gbRC2, &gbRC3, &gbRC4};
    QCheckBox **en[] = {&chkEnable1, &chkEnable2, &chkEnable3, &chkEnable4};
    QLineEdit **sp[] = {&edtSP1, &edtSp2, &edtSP3, &edtSP4};
    TUpDown **spUd[] = {&UpDown1, &UpDown7, &UpDown5, &UpDown3};
    QLabel **spL[] = {&lblSP1, &lblSP2, &lblSP3, &lblSP4};
    QLineEdit **dr[] = {&edtDrop1, &edtDrop2, &edtDrop3, &edtDrop4};
    TUpDown **drUd[] = {&UpDown2, &UpDown8, &UpDown6, &UpDown4};
    QLabel **drL[] = {&lblDrop1, &lblDrop2, &lblDrop3, &lblDrop4};
    QComboBox **md[] = {&cmbMode1, &cmbMode2, &cmbMode3, &cmbMode4};
    QLabel **mdL[] = {&lblMode1, &lblMode2, &lblMode3, &lblMode4};
    QFrame **bv[] = {&Bevel1, &Bevel2, &Bevel3, &Bevel4};
    QLabel **man[] = {&lblMan1, &lblMan2, &lblMan3, &lblMan4};
    QCheckBox **mo[] = {&chkM1, &chkM2, &chkM3, &chkM4};
    QPushButton **rb[] = {&btnR1, &btnR2, &btnR3, &btnR4};

    for (int i = 0; i < 4; ++i) {
        const int ch = i + 1;
        auto *box = Make<QGroupBox>(tabControl, "", xs[i], 8, 140, 392);
        box->setObjectName(Name("gbRC", ch));
        box->setTitle(rs::sRelayControl);
        SetTextColor(box, kCaptionText);

        auto *chk = Make<QCheckBox>(box, "", 28, 30, 96, 17);
        chk->setObjectName(Name("chkEnable", ch));
        chk->setProperty("Tag", ch);
        chk->setText(rs::sEnabled);

        auto *edtSp = Make<QLineEdit>(box, spNames[i], 34, 66, 48, 21);
        auto *udSp = new TUpDown(SetPointMin, SetPointMax, 30, edtSp, box);
        udSp->setObjectName(QString::fromLatin1(spSpin[i]));
        udSp->setGeometry(82, 66, 16, 21);
        auto *lSp = Make<QLabel>(box, "", 34, 89, 90, 15);
        lSp->setObjectName(Name("lblSP", ch));
        lSp->setText(rs::sSetPoint);

        auto *edtDr = Make<QLineEdit>(box, "", 34, 126, 48, 21);
        edtDr->setObjectName(Name("edtDrop", ch));
        auto *udDr = new TUpDown(DropoutMin, DropoutMax, 3, edtDr, box);
        udDr->setObjectName(QString::fromLatin1(dropSpin[i]));
        udDr->setGeometry(82, 126, 16, 21);
        auto *lDr = Make<QLabel>(box, "", 34, 149, 90, 15);
        lDr->setObjectName(Name("lblDrop", ch));
        lDr->setText(rs::sDropout);

        for (QLineEdit *e : {edtSp, edtDr}) {
            e->setReadOnly(true);
            e->setFont(SansFont(12, true));
        }

        auto *mode = Make<QComboBox>(box, "", 34, 186, 64, 22);
        mode->setObjectName(Name("cmbMode", ch));
        mode->addItems({QStringLiteral("Cool"), QStringLiteral("Heat")});
        mode->setCurrentIndex(1);
        mode->setFont(SansFont(12, true));
        auto *lMd = Make<QLabel>(box, "", 34, 210, 90, 15);
        lMd->setObjectName(Name("lblMode", ch));
        lMd->setText(rs::sMode);

        auto *bevel = EtchedLine(box, "", 8, 240, 124);
        bevel->setObjectName(Name("Bevel", ch));

        auto *lMan = Make<QLabel>(box, "", 10, 250, 120, 32);
        lMan->setObjectName(Name("lblMan", ch));
        lMan->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        lMan->setWordWrap(true);
        lMan->setText(rs::sManualOverridesControl);

        // No caption of its own: only the box shows.
        auto *chkMo = Make<QCheckBox>(box, "", 62, 288, 17, 17);
        chkMo->setObjectName(Name("chkM", ch));
        chkMo->setChecked(true);

        auto *btn = Make<QPushButton>(box, "", 20, 340, 100, 25);
        btn->setObjectName(Name("btnR", ch));
        btn->setProperty("Tag", ch);
        btn->setFont(SansFont(13));
        btn->setText(rs::RelayButtonCaption(ch));

        *gb[i] = box;
        *en[i] = chk;
        *sp[i] = edtSp;
        *spUd[i] = udSp;
        *spL[i] = lSp;
        *dr[i] = edtDr;
        *drUd[i] = udDr;
        *drL[i] = lDr;
        *md[i] = mode;
        *mdL[i] = lMd;
        *bv[i] = bevel;
        *man[i] = lMan;
        *mo[i] = chkMo;
        *rb[i] = btn;

        connect(chk, &QCheckBox::clicked, this, [this] { Guarded([this] { chkEnable1Click(); }); });
        for (QLineEdit *e : {edtSp, edtDr})
            connect(e, &QLineEdit::textChanged, this, [this] { Guarded([this] { edtDrop1Change(); }); });
        for (TUpDown *u : {udSp, udDr})
            connect(u, &TUpDown::clicked, this, [this] { Guarded([this] { UpDown2Click(); }); });
        connect(mode, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cmbMode1Change(); }); });
        connect(chkMo, &QCheckBox::clicked, this, [this] { Guarded([this] { chkM1Click(); }); });
        connect(btn, &QPushButton::clicked, this, [this, btn] {
            Guarded([this, btn] { btnR1Click(btn->property("Tag").toInt()); });
        });
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
    inner->setContentsMargins(4, 0, 0, 0);   // the 4-pixel strip on the left
    memLog = new QPlainTextEdit(pnlLog);
    memLog->setObjectName(QStringLiteral("memLog"));
    memLog->setReadOnly(true);
    memLog->setFrameShape(QFrame::NoFrame);
    memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memLog->setContextMenuPolicy(Qt::PreventContextMenu);
    memLog->setFocusPolicy(Qt::ClickFocus);   // skipped by Tab
    memLog->setTabChangesFocus(true);
    memLog->setUndoRedoEnabled(false);
    memLog->setFont(MonoFont(13));
    // Tab stops every 8 columns, so message lines and data columns line up.
    memLog->setTabStopDistance(QFontMetricsF(memLog->font()).horizontalAdvance(QLatin1Char(' ')) * 8);
    QPalette mp = memLog->palette();
    mp.setColor(QPalette::Text, kLogText);
    mp.setColor(QPalette::Base, kLogBackground);
    // The selection stays visible while the view has no focus.
    mp.setColor(QPalette::Inactive, QPalette::Highlight, mp.color(QPalette::Active, QPalette::Highlight));
    mp.setColor(QPalette::Inactive, QPalette::HighlightedText,
                mp.color(QPalette::Active, QPalette::HighlightedText));
    memLog->setPalette(mp);
    inner->addWidget(memLog);
}

// ---------------------------------------------------------------- creation

void TfrmMain::FormCreate()
{
    SetAppExceptionHandler([this](const std::exception &e) { HandleAppException(e); });

    MessageIndent = q274::MessageIndent;
    Locale = UserLocale();
    DecimalSeparatorText = q274::DecimalSeparator(Locale);
    DateSeparatorText = q274::DateSeparator(Locale);

    dmQ274->Poller.CommandQueue.Clear();
    dmQ274->Poller.TemperaturesEnabled = false;
    FirstSamplePending = false;
    UseFahrenheit = false;
    ShowMilliseconds = false;
    Channels.ClearRelays();
    LastAutosaveTime = QDateTime::currentDateTime();
    lblSaveCount->setText(QStringLiteral("0"));

    LogFolder = LogFolderPath();
    pgMain->setCurrentWidget(tabControl);
    ColourReadouts(false);
    ShowEnabledChannels();
    ApplyCaptions();
    ApplySettings();

    // The window previews every key before the focused control.
    qApp->installEventFilter(this);
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    Guarded([this] { FormShow(); });
}

void TfrmMain::FormShow()
{
    btnConn->setFocus();
    ShowLogBanner();
    StartCommandSender();
}

void TfrmMain::ApplyCaptions()
{
    for (int ch = 1; ch <= 4; ++ch)
        findChild<QGroupBox *>(Name("gbCh", ch))->setTitle(rs::ChannelCaption(ch));
    for (QGroupBox *b : {gbRC1, gbRC2, gbRC3, gbRC4})
        b->setTitle(rs::sRelayControl);
    for (QCheckBox *c : {chkEnable1, chkEnable2, chkEnable3, chkEnable4})
        c->setText(rs::sEnabled);
    for (QLabel *l : {lblSP1, lblSP2, lblSP3, lblSP4})
        l->setText(rs::sSetPoint);
    for (QLabel *l : {lblDrop1, lblDrop2, lblDrop3, lblDrop4})
        l->setText(rs::sDropout);
    for (QLabel *l : {lblMode1, lblMode2, lblMode3, lblMode4})
        l->setText(rs::sMode);
    for (QLabel *l : {lblMan1, lblMan2, lblMan3, lblMan4})
        l->setText(rs::sManualOverridesControl);
    for (int ch = 1; ch <= 4; ++ch)
        RelayButton(ch)->setText(rs::RelayButtonCaption(ch));
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

QLabel *TfrmMain::Readout(int ch) const { return Pick(ch, lblCh1, lblCh2, lblCh3, lblCh4); }
TShape *TfrmMain::Indicator(int ch) const { return Pick(ch, shp1, shp2, shp3, shp4); }
QCheckBox *TfrmMain::EnableBox(int ch) const { return Pick(ch, chkEnable1, chkEnable2, chkEnable3, chkEnable4); }
QLineEdit *TfrmMain::SetPointEdit(int ch) const { return Pick(ch, edtSP1, edtSp2, edtSP3, edtSP4); }
TUpDown *TfrmMain::SetPointSpinner(int ch) const { return Pick(ch, UpDown1, UpDown7, UpDown5, UpDown3); }
QLineEdit *TfrmMain::DropoutEdit(int ch) const { return Pick(ch, edtDrop1, edtDrop2, edtDrop3, edtDrop4); }
TUpDown *TfrmMain::DropoutSpinner(int ch) const { return Pick(ch, UpDown2, UpDown8, UpDown6, UpDown4); }
QComboBox *TfrmMain::ModeList(int ch) const { return Pick(ch, cmbMode1, cmbMode2, cmbMode3, cmbMode4); }
QCheckBox *TfrmMain::OverrideBox(int ch) const { return Pick(ch, chkM1, chkM2, chkM3, chkM4); }
QPushButton *TfrmMain::RelayButton(int ch) const { return Pick(ch, btnR1, btnR2, btnR3, btnR4); }

// ---------------------------------------------------------------- settings

void TfrmMain::ApplySettings()
{
    UseFahrenheit = cmbDeg->currentText() == QLatin1String("F");
    for (int ch = 1; ch <= 4; ++ch) {
        auto &s = Channels.Settings(ch);
        s.Enabled = EnableBox(ch)->isChecked();
        // The edits hold only what their spinners wrote: always whole numbers.
        s.SetPoint = SetPointEdit(ch)->text().toInt();
        s.Dropout = DropoutEdit(ch)->text().toInt();
        s.Mode = ModeList(ch)->currentText();
        s.ManualOverrides = OverrideBox(ch)->isChecked();
    }
    SetAutosaveInterval(QStringLiteral("24h"));
    DataLineInterval = 60000;
    ShowEnabledChannels();
}

void TfrmMain::SetAutosaveInterval(const QString &name)
{
    AutosaveInterval = AutosaveIntervalDays(name);
}

void TfrmMain::ShowEnabledChannels()
{
    for (int ch = 1; ch <= 4; ++ch)
        Indicator(ch)->SetPenColor(Channels.Settings(ch).Enabled ? kOutlineEnabled : kOutlineDisabled);
}

void TfrmMain::SetRelayIndicator(int channel, RelayFill fill)
{
    const QColor c = fill == RelayFill::On ? kFillOn : fill == RelayFill::Off ? kBackground : kFillUnknown;
    Indicator(channel)->SetBrushColor(c);
}

void TfrmMain::ClearReadouts()
{
    Channels.ClearReadouts();
    for (int ch = 1; ch <= 4; ++ch)
        Readout(ch)->setText(Channels.Readout(ch));
}

void TfrmMain::ColourReadouts(bool portOpen)
{
    for (int ch = 1; ch <= 4; ++ch)
        SetTextColor(Readout(ch), portOpen ? kReadoutOpen : kReadoutClosed);
}

void TfrmMain::cmbDegChange()
{
    LogMessage(MessageIndent + rs::sLoggingInDeg + QLatin1Char(' ') + cmbDeg->currentText());
    ApplySettings();
}

void TfrmMain::chkEnable1Click() { ApplySettings(); }
void TfrmMain::edtDrop1Change() { ApplySettings(); }
void TfrmMain::UpDown2Click() { ApplySettings(); }
void TfrmMain::cmbMode1Change() { ApplySettings(); }
void TfrmMain::chkM1Click() { ApplySettings(); }

// ---------------------------------------------------------------- log view

void TfrmMain::AppendLogLine(const QString &line)
{
    QTextCursor c = memLog->textCursor();
    c.movePosition(QTextCursor::End);
    memLog->setTextCursor(c);
    memLog->insertPlainText(ToViewText(line + QStringLiteral("\r\n")));
}

void TfrmMain::LogMessage(const QString &text)
{
    const LogDecision d = LogMessageDecision(chkLog->isChecked(), text);
    if (!d.write)
        return;
    const QString stamp =
        FormatTimestamp(QDateTime::currentDateTime(), Locale, ShowMilliseconds && d.withMsAllowed);
    AppendLogLine(LogLine(stamp, text));
}

QString TfrmMain::LogText() const
{
    QString t = memLog->toPlainText();
    t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return t;
}

void TfrmMain::ShowLogBanner()
{
    memLog->setUpdatesEnabled(false);
    auto resume = qScopeGuard([this] { memLog->setUpdatesEnabled(true); });

    memLog->clear();
    const QStringList title = LoadStoredItem(QStringLiteral("a2"));
    memLog->setPlainText(title.join(QLatin1Char('\n')));
    const QString caption = title.value(0);
    setWindowTitle(caption);
    SetApplicationTitle(caption);
    memLog->clear();

    for (const QString &line : LoadStoredItem(QStringLiteral("a1")))
        AppendLogLine(MessageIndent + line);
    AppendLogLine(QString());
    AppendLogLine(QString());

    resume.dismiss();
    memLog->setUpdatesEnabled(true);
    LogLoggingState();
}

void TfrmMain::LogLoggingState()
{
    if (chkLog->isChecked())
        LogMessage(MessageIndent + rs::sLoggingEnabledInDeg + QLatin1Char(' ') + cmbDeg->currentText());
    else
        LogMessage(MessageIndent + rs::sLoggingDisabled);
}

void TfrmMain::chkLogClick()
{
    LogLoggingState();
}

void TfrmMain::btnClearLogClick()
{
    // The user asked for the log to be kept: a failed save leaves the view as
    // it was and is reported as any failed save. No, or a cancelled dialog,
    // clears.
    if (chkLog->isChecked())
        AskSaveLog();
    ShowLogBanner();
    LogMessage(MessageIndent + rs::sLogCleared);
}

// ---------------------------------------------------------------- keys

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The window's own system window receives each key press exactly once,
    // before it goes on to the focused control. Acting there, and not at the
    // widgets the key travels through, keeps a shortcut from acting again
    // when its handler ran a modal box that left no control focused.
    if (event->type() == QEvent::KeyPress && watched == static_cast<QObject *>(windowHandle())) {
        auto *ke = static_cast<QKeyEvent *>(event);
        Guarded([this, ke] { FormKeyDown(ke->key(), ke->modifiers(), ke->nativeScanCode()); });
    }
    return QWidget::eventFilter(watched, event);   // never consumed
}

bool TfrmMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode)
{
    switch (ShortcutFor(key, modifiers, nativeScanCode)) {
    case ShortcutAction::None: return false;
    case ShortcutAction::Help: btnHelpClick(); break;
    case ShortcutAction::Close: close(); break;
    case ShortcutAction::Relay1: btnR1Click(1); break;
    case ShortcutAction::Relay2: btnR1Click(2); break;
    case ShortcutAction::Relay3: btnR1Click(3); break;
    case ShortcutAction::Relay4: btnR1Click(4); break;
    case ShortcutAction::Connect: btnConnClick(); break;
    case ShortcutAction::ToggleLogging:
        chkLog->setChecked(!chkLog->isChecked());
        chkLogClick();
        break;
    case ShortcutAction::About: btnAboutClick(); break;
    case ShortcutAction::ComPort: btnCOMClick(); break;
    case ShortcutAction::ClearLog: btnClearLogClick(); break;
    case ShortcutAction::SaveLog: btnLogSaveClick(); break;
    case ShortcutAction::ShowControlPage: pgMain->setCurrentWidget(tabControl); break;
    case ShortcutAction::ShowLogPage: pgMain->setCurrentWidget(tabLog); break;
    case ShortcutAction::ToggleMilliseconds: ShowMilliseconds = !ShowMilliseconds; break;
    }
    return true;
}

// ---------------------------------------------------------------- closing

void TfrmMain::closeEvent(QCloseEvent *event)
{
    try {
        if (PortIsOpen()) {
            if (!CurrentDialogs().AskYesNo(this, QStringLiteral("Warning"), DisconnectQuestion(),
                                           DialogIcon::Warning)) {
                event->ignore();
                return;
            }
            ClosePortForExit();
        }
        if (chkLog->isChecked())
            AskSaveLog();
    } catch (const std::exception &e) {
        // A failed save (or close) ends this close attempt; the window stays.
        event->ignore();
        HandleAppException(e);
        return;
    }
    event->accept();
}

// ---------------------------------------------------------------- errors

void TfrmMain::HandleAppException(const std::exception &error, bool showBox)
{
    const QString message = QString::fromUtf8(error.what());
    LogMessage(MessageIndent + rs::sApplicationError + QLatin1Char(' ') + message);
    if (showBox)
        CurrentDialogs().ShowError(this, ApplicationTitle(), ErrorBoxText(message));
}

template <typename Fn> void TfrmMain::Guarded(Fn &&fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        HandleAppException(e);
    } catch (...) {
        HandleAppException(std::runtime_error("Unknown error"));
    }
}

// ---------------------------------------------------------------- entry points

bool TfrmMain::PortIsOpen() const { return dmQ274->ComPort->Connected(); }
void TfrmMain::ClosePortForExit() { dmQ274->ComPort->ClosePort(); }

void TfrmMain::StartCommandSender() { dmQ274->Poller.StartCommandSender(); }
void TfrmMain::btnConnClick() { ToggleConnection(); }
void TfrmMain::btnCOMClick() { dmQ274->ComPort->EditSettings(); }
void TfrmMain::btnHelpClick() { ShowHelp(); }
void TfrmMain::btnAboutClick() { ShowAbout(this); }
void TfrmMain::btnLogSaveClick() { AskSaveLog(); }

// ---------------------------------------------------------------- connection

void TfrmMain::ToggleConnection()
{
    // Open failures travel on to HandleAppException.
    dmQ274->ToggleConnection();
}

void TfrmMain::ShowConnected()
{
    btnConn->setText(rs::sDisconnect);
    LogMessage(MessageIndent + rs::sComPortOpened);
    ColourReadouts(PortIsOpen());
    LastAutosaveTime = AutosaveNow();
}

void TfrmMain::ShowDisconnected()
{
    // Polling, its one-shots and the queue were stopped by the connection.
    btnConn->setText(rs::sConnect);
    LogMessage(MessageIndent + rs::sDisconnected);
    AppendLogLine(QStringLiteral(" "));
    ShowRelayStatus(QStringLiteral("00"));
    ClearReadouts();
    ColourReadouts(PortIsOpen());
}

void TfrmMain::BoardIdentified()
{
    FirstSamplePending = true;
}

// ---------------------------------------------------------------- polling

void TfrmMain::QueueCommand(const QString &command) { dmQ274->Poller.QueueCommand(command.toStdString()); }
void TfrmMain::tmrQTimer() { dmQ274->Poller.tmrQTimer(); }
void TfrmMain::tmrTStatusTimer() { dmQ274->Poller.tmrTStatusTimer(); }
void TfrmMain::tmrTempTimer() { dmQ274->Poller.tmrTempTimer(); }
void TfrmMain::tmrRStatusTimer() { dmQ274->Poller.tmrRStatusTimer(); }
void TfrmMain::StartTemperaturePolling() { dmQ274->Poller.StartTemperaturePolling(); }
void TfrmMain::StopTemperaturePolling() { dmQ274->Poller.StopTemperaturePolling(); }

// ---------------------------------------------------------------- read-outs

namespace {
QChar SeparatorOf(const QString &text)
{
    return text.isEmpty() ? QChar('.') : text.at(0);
}
} // namespace

void TfrmMain::LogDataErrorOnce(bool &logged)
{
    if (logged)
        return;
    logged = true;
    LogMessage(MessageIndent + DataErrorText);
}

bool TfrmMain::ShowReadout(int channel, const QString &value, const QString &noSensor)
{
    const bool ok = Channels.ShowValue(channel, value, noSensor, UseFahrenheit, SeparatorOf(DecimalSeparatorText));
    Readout(channel)->setText(Channels.Readout(channel));
    return ok;
}

void TfrmMain::HandleTemperatureReply(const QString &line)
{
    if (IsAllChannelReply(line)) {
        ShowAllTemperatures(line);
        return;
    }
    const std::optional<ChannelReply> reply = ParseChannelReply(line);
    if (!reply) {
        LogMessage(MessageIndent + DataErrorText);
        return;
    }
    ShowChannelTemperature(reply->channel, reply->value);
}

void TfrmMain::ShowChannelTemperature(int channel, const QString &value)
{
    bool dataErrorLogged = false;
    if (channel < 1 || channel > 4) {
        LogDataErrorOnce(dataErrorLogged);
        return;
    }
    if (!ShowReadout(channel, value, QStringLiteral("?")))
        LogDataErrorOnce(dataErrorLogged);
    if (dmQ274->Poller.TemperaturesEnabled)
        RunChannelControl(dataErrorLogged);
}

void TfrmMain::ShowAllTemperatures(const QString &line)
{
    bool dataErrorLogged = false;
    const std::array<QString, 4> fields = SplitAllChannels(line);
    for (int ch = 1; ch <= 4; ++ch)
        if (!ShowReadout(ch, fields[std::size_t(ch - 1)], QStringLiteral("-")))
            LogDataErrorOnce(dataErrorLogged);
    if (FirstSamplePending)
        StartDataLogging();
    if (dmQ274->Poller.TemperaturesEnabled)
        RunChannelControl(dataErrorLogged);
}

// ---------------------------------------------------------------- channel control

void TfrmMain::RunChannelControl()
{
    bool dataErrorLogged = false;
    RunChannelControl(dataErrorLogged);
}

void TfrmMain::RunChannelControl(bool &dataErrorLogged)
{
    for (const ChannelDecision &d : Channels.RunChannelControl(SeparatorOf(DecimalSeparatorText))) {
        if (d.kind == ChannelDecision::DataError) {
            LogDataErrorOnce(dataErrorLogged);
            continue;
        }
        QueueCommand(QString::fromStdString(d.Command));
        LogMessage(MessageIndent + d.Message);
    }
}

void TfrmMain::ShowRelayStatus(const QString &statusText)
{
    if (!Channels.ApplyRelayStatus(statusText)) {
        // Flags and fills keep what the last good reply said.
        LogMessage(MessageIndent + DataErrorText);
        return;
    }
    for (int ch = 1; ch <= 4; ++ch)
        SetRelayIndicator(ch, Channels.RelayOn(ch) ? RelayFill::On : RelayFill::Off);
}

void TfrmMain::btnR1Click(int channel)
{
    const std::optional<ManualAction> action = Channels.ManualPress(channel, PortIsOpen());
    if (!action)
        return;
    if (action->ClearEnabled)
        EnableBox(channel)->setChecked(false);
    ApplySettings();
    QueueCommand(QString::fromStdString(action->Command));
    LogMessage(MessageIndent + action->Message);
}

} // namespace q274

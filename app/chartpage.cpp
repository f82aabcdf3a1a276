#include "chartpage.h"

#include "charttime.h"
#include "dialogs.h"
#include "logfiles.h"
#include "namedcombo.h"
#include "shellrules.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QLabel>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace q274 {

namespace {

// Okabe-Ito colours: told apart with every common colour-vision deficiency.
const std::array<QColor, 4> kChannelColours = {QColor(0, 114, 178), QColor(230, 159, 0), QColor(0, 158, 115),
                                               QColor(204, 121, 167)};
constexpr qint64 kMinute = 60'000;
constexpr qint64 kMinSpan = 10'000;                 // zoomed in no further than 10 s
constexpr qint64 kMaxSpan = 60 * 24 * kMinute * 60; // nor out beyond 60 days
constexpr int kRedrawInterval = 100;                // ms: at most ten redraws a second
constexpr std::size_t kMaxLines = 64;               // stretches drawn apart per channel

constexpr int kTickWidth = 90;                      // px a time label needs at least

} // namespace

// Wheel zoom and drag pan on the time axis.
class TChartView : public QChartView {
public:
    TChartView(QChart *chart, TChartPage &page) : QChartView(chart), FPage(page)
    {
        setRenderHint(QPainter::Antialiasing);
        setCursor(Qt::OpenHandCursor);
    }

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        const int steps = event->angleDelta().y();
        if (steps == 0)
            return;
        const qint64 at = qint64(chart()->mapToValue(event->position()).x());
        FPage.Zoom(steps > 0 ? 0.8 : 1.25, at);
        event->accept();
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return QChartView::mousePressEvent(event);
        FDragX = event->position().x();
        FDragging = true;
        setCursor(Qt::ClosedHandCursor);
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!FDragging)
            return QChartView::mouseMoveEvent(event);
        const double width = std::max(1.0, chart()->plotArea().width());
        const double dx = event->position().x() - FDragX;
        FDragX = event->position().x();
        const double msPerPixel = double(FPage.ViewTo() - FPage.ViewFrom()) / width;
        if (const qint64 ms = qint64(std::llround(-dx * msPerPixel)))
            FPage.Pan(ms);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        FDragging = false;
        setCursor(Qt::OpenHandCursor);
        QChartView::mouseReleaseEvent(event);
    }

private:
    TChartPage &FPage;
    double FDragX = 0;
    bool FDragging = false;
};

const std::array<qint64, 5> TChartPage::kRanges = {10 * kMinute, 60 * kMinute, 8 * 60 * kMinute, 24 * 60 * kMinute, 0};

TChartPage::TChartPage(const TSampleRecorder &recorder, const TChannels &channels, std::function<bool()> useFahrenheit,
                       QWidget *parent)
    : QWidget(parent), FRecorder(recorder), FChannels(channels), FUseFahrenheit(std::move(useFahrenheit))
{
    setObjectName(QStringLiteral("pnlChart"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->setSpacing(2);
    auto *bar = new QHBoxLayout;
    outer->addLayout(bar);
    cmbRange = new TNamedComboBox(this);
    cmbRange->setObjectName(QStringLiteral("cmbRange"));
    cmbRange->addItems({QStringLiteral("10 minutes"), QStringLiteral("1 hour"), QStringLiteral("8 hours"),
                        QStringLiteral("24 hours"), QStringLiteral("All")});
    cmbRange->setCurrentIndex(1);
    cmbRange->setAccessibleName(QStringLiteral("Chart time range"));
    btnFollow = new QPushButton(QStringLiteral("Follow"), this);
    btnFollow->setObjectName(QStringLiteral("btnFollow"));
    btnFollow->setToolTip(QStringLiteral("Keep the newest readings in view"));
    btnExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    btnExport->setObjectName(QStringLiteral("btnExportCsv"));
    btnPicture = new QPushButton(QStringLiteral("Save Picture..."), this);
    btnPicture->setObjectName(QStringLiteral("btnSavePicture"));
    btnOpenLog = new QPushButton(QStringLiteral("Open Log..."), this);
    btnOpenLog->setObjectName(QStringLiteral("btnOpenLog"));
    btnOpenLog->setToolTip(QStringLiteral("Show saved, autosaved or recovered log files beside the live run (Ctrl+H)"));
    btnCloseLog = new QPushButton(QStringLiteral("Close Logs"), this);
    btnCloseLog->setObjectName(QStringLiteral("btnCloseLog"));
    btnCloseLog->setEnabled(false);
    prgLoad = new QProgressBar(this);
    prgLoad->setObjectName(QStringLiteral("prgLoad"));
    prgLoad->setRange(0, 1000);
    prgLoad->hide();
    btnCancelLoad = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancelLoad->setObjectName(QStringLiteral("btnCancelLoad"));
    btnCancelLoad->hide();
    lblHistory = new QLabel(this);
    lblHistory->setObjectName(QStringLiteral("lblHistory"));
    bar->addWidget(cmbRange);
    bar->addWidget(btnFollow);
    bar->addWidget(btnOpenLog);
    bar->addWidget(btnCloseLog);
    bar->addWidget(prgLoad, 1);
    bar->addWidget(btnCancelLoad);
    bar->addWidget(lblHistory);
    bar->addStretch(1);
    bar->addWidget(btnExport);
    bar->addWidget(btnPicture);

    Chart = new QChart;
    Chart->setMargins(QMargins(4, 4, 4, 4));
    Chart->legend()->setAlignment(Qt::AlignTop);
    // Axis numbers with the separator the read-outs use.
    Chart->setLocalizeNumbers(true);
    TimeAxis = new QCategoryAxis;
    TimeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    ValueAxis = new QValueAxis;
    ValueAxis->setLabelFormat(QStringLiteral("%.1f"));
    Chart->addAxis(TimeAxis, Qt::AlignBottom);
    Chart->addAxis(ValueAxis, Qt::AlignLeft);
    // Bands first, so lines are drawn over them; the opened history under
    // the live run.
    MakeSeries(HistorySeries, true);
    MakeSeries(Series, false);
    View = new TChartView(Chart, *this);
    View->setObjectName(QStringLiteral("chtView"));
    View->setAccessibleName(QStringLiteral("Chart of temperatures and relays"));
    // Screen readers list the drawing area beside the view, and it takes
    // the focus too.
    View->viewport()->setAccessibleName(QStringLiteral("Chart drawing area"));
    outer->addWidget(View, 1);

    FRedrawTimer = new QTimer(this);
    FRedrawTimer->setSingleShot(true);
    FRedrawTimer->setInterval(kRedrawInterval);
    connect(FRedrawTimer, &QTimer::timeout, this, [this] { Redraw(); });
    connect(cmbRange, &QComboBox::currentIndexChanged, this, [this] { RangeChosen(); });
    connect(btnFollow, &QPushButton::clicked, this, [this] { Follow(); });
    connect(btnExport, &QPushButton::clicked, this, [this] { ExportCsv(); });
    connect(btnPicture, &QPushButton::clicked, this, [this] { SavePicture(); });
    connect(btnOpenLog, &QPushButton::clicked, this, [this] { OpenLogDialog(); });
    connect(btnCloseLog, &QPushButton::clicked, this, [this] { CloseLogs(); });
    connect(btnCancelLoad, &QPushButton::clicked, this, [this] { CancelLoad(); });
    // Ctrl+O opens a profile; the window's shortcuts only reach a page
    // that is shown, so this one works on the Chart page alone.
    auto *open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    open->setContext(Qt::WindowShortcut);
    connect(open, &QShortcut::activated, this, [this] { OpenLogDialog(); });
    FLoadPoll = new QTimer(this);
    FLoadPoll->setInterval(100);
    connect(FLoadPoll, &QTimer::timeout, this, [this] { PollLoad(); });
    btnFollow->setEnabled(false);
}

void TChartPage::MakeSeries(std::array<ChannelSeries, 4> &series, bool history)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const QColor colour = kChannelColours[i];
        ChannelSeries &s = series[i];
        s.History = history;
        s.Colour = colour;
        s.Relay = new QAreaSeries(new QLineSeries(this), new QLineSeries(this));
        QColor fill = colour;
        fill.setAlpha(history ? 22 : 45);
        s.Relay->setBrush(fill);
        s.Relay->setPen(Qt::NoPen);
        std::vector<QAbstractSeries *> parts{s.Relay};
        if (!history) {
            s.SetPoint = new QLineSeries;
            s.SetPoint->setPen(QPen(colour, 1, Qt::DashLine));
            s.Threshold = new QLineSeries;
            s.Threshold->setPen(QPen(colour, 1, Qt::DashDotLine));
            parts.push_back(s.SetPoint);
            parts.push_back(s.Threshold);
        }
        for (QAbstractSeries *a : parts) {
            Chart->addSeries(a);
            a->attachAxis(TimeAxis);
            a->attachAxis(ValueAxis);
            for (QLegendMarker *m : Chart->legend()->markers(a))
                m->setVisible(false);
        }
    }
    for (int ch = 1; ch <= 4; ++ch)
        Line(series, ch, 0);
}

void TChartPage::ScheduleRedraw()
{
    FDirty = true;
    if (isVisible() && !FRedrawTimer->isActive())
        FRedrawTimer->start();
}

void TChartPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FDirty)
        Redraw();
}

void TChartPage::RangeChosen()
{
    FSpan = 0;
    FFollowing = true;
    btnFollow->setEnabled(false);
    FDirty = true;
    if (isVisible())
        Redraw();
}

void TChartPage::Follow()
{
    // Back to the newest data at the zoom last seen.
    if (!FFollowing)
        FSpan = FTo - FFrom;
    FFollowing = true;
    btnFollow->setEnabled(false);
    FDirty = true;
    if (isVisible())
        Redraw();
}

void TChartPage::ComputeRange()
{
    if (!FFollowing)
        return;
    const qint64 to = FRecorder.LastTime().value_or(FRecorder.Now());
    const qint64 span = FSpan > 0 ? FSpan : kRanges[std::size_t(std::clamp(cmbRange->currentIndex(), 0, 4))];
    const TimeWindow w = FollowWindow(FRecorder.FirstTime().value_or(to), to, span, kMinSpan);
    FFrom = w.From;
    FTo = w.To;
}

void TChartPage::Zoom(double factor, qint64 at)
{
    ComputeRange();
    const qint64 span = FTo - FFrom;
    const qint64 wanted = std::clamp(qint64(double(span) * factor), kMinSpan, kMaxSpan);
    FSpan = wanted;
    if (!FFollowing) {
        at = std::clamp(at, FFrom, FTo);
        const double left = span > 0 ? double(at - FFrom) / double(span) : 1.0;
        FFrom = at - qint64(left * double(wanted));
        FTo = FFrom + wanted;
    }
    ScheduleRedraw();
}

void TChartPage::Pan(qint64 ms)
{
    ComputeRange();
    FFollowing = false;
    btnFollow->setEnabled(true);
    FFrom += ms;
    FTo += ms;
    ScheduleRedraw();
}

void TChartPage::Redraw()
{
    FRedrawTimer->stop();
    FDirty = false;
    ++FRedraws;
    ComputeRange();
    const bool fahrenheit = FUseFahrenheit && FUseFahrenheit();
    const int columns = std::max(100, int(Chart->plotArea().width()));
    double lo = qInf(), hi = -qInf();
    auto span = [&lo, &hi](double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    };

    if (FHistory)
        DrawLines(*FHistory, HistorySeries, columns, fahrenheit, lo, hi);
    else
        for (ChannelSeries &s : HistorySeries)
            for (QLegendMarker *m : Chart->legend()->markers(s.Lines[0]))
                m->setVisible(false);
    DrawLines(FRecorder, Series, columns, fahrenheit, lo, hi);
    Chart->legend()->layout()->invalidate(); // names shown or hidden: lay the row out anew
    // Logs record no set points: beside opened files, over the live run only.
    const std::optional<qint64> liveFrom = FHistory ? FRecorder.FirstTime() : std::optional<qint64>(FFrom);
    const bool setPointsShown = liveFrom && *liveFrom <= FTo;
    const double setFrom = double(std::max(FFrom, liveFrom.value_or(FFrom)));
    for (int ch = 1; ch <= 4; ++ch) {
        ChannelSeries &s = Series[std::size_t(ch - 1)];
        // The set point is in the unit shown, like the read-out it is compared with.
        const ChannelSettings &set = FChannels.Settings(ch);
        if (set.Enabled && setPointsShown) {
            const double sp = set.SetPoint;
            const double th = set.Mode == kModeCool ? sp - set.Dropout : sp + set.Dropout;
            s.SetPoint->replace({QPointF(setFrom, sp), QPointF(double(FTo), sp)});
            s.Threshold->replace({QPointF(setFrom, th), QPointF(double(FTo), th)});
            span(sp);
            span(th);
        } else {
            s.SetPoint->clear();
            s.Threshold->clear();
        }
    }

    if (lo > hi) {
        lo = fahrenheit ? 50 : 10;
        hi = fahrenheit ? 104 : 40;
    }
    const double margin = std::max((hi - lo) * 0.08, 0.5);
    lo -= margin;
    hi += margin;
    if (LabelLocale && Chart->locale() != LabelLocale())
        Chart->setLocale(LabelLocale());
    ValueAxis->setRange(lo, hi);
    ValueAxis->applyNiceNumbers(); // round tick values, still around the margin
    lo = ValueAxis->min();         // the bands fill the plot's height
    hi = ValueAxis->max();
    ValueAxis->setTitleText(fahrenheit ? QStringLiteral("°F") : QStringLiteral("°C"));
    SetTimeTicks();

    const qint64 pixel = std::max<qint64>(1, (FTo - FFrom) / columns);
    if (FHistory)
        DrawBands(*FHistory, HistorySeries, pixel, lo, hi);
    DrawBands(FRecorder, Series, pixel, lo, hi);
}

void TChartPage::DrawLines(const TSampleRecorder &recorder, std::array<ChannelSeries, 4> &series, int columns,
                           bool fahrenheit, double &lo, double &hi)
{
    for (int ch = 1; ch <= 4; ++ch) {
        ChannelSeries &s = series[std::size_t(ch - 1)];
        std::vector<TSampleRecorder::Run> runs = recorder.Decimate(ch, FFrom, FTo, columns, fahrenheit);
        // Beyond the line budget the last line carries the rest, joined.
        while (runs.size() > kMaxLines) {
            TSampleRecorder::Run &tail = runs[runs.size() - 2];
            tail.insert(tail.end(), runs.back().begin(), runs.back().end());
            runs.pop_back();
        }
        bool shown = false; // a point in view, or a line across it: named beside opened files
        for (std::size_t r = 0; r < std::max(runs.size(), s.Lines.size()); ++r) {
            QList<QPointF> points;
            if (r < runs.size()) {
                points.reserve(qsizetype(runs[r].size()));
                for (const TSampleRecorder::Point &p : runs[r]) {
                    points.append(QPointF(double(p.Time), p.Value));
                    if (p.Time >= FFrom && p.Time <= FTo) {
                        lo = std::min(lo, p.Value);
                        hi = std::max(hi, p.Value);
                        shown = true;
                    }
                }
                shown = shown || (runs[r].front().Time < FFrom && runs[r].back().Time > FTo);
            }
            Line(series, ch, r)->replace(points);
        }
        // Eight names do not fit; without files, every channel with readings.
        for (QLegendMarker *m : Chart->legend()->markers(s.Lines[0]))
            m->setVisible(FHistory ? shown : recorder.SampleCount(ch) > 0);
    }
}

void TChartPage::DrawBands(const TSampleRecorder &recorder, std::array<ChannelSeries, 4> &series, qint64 pixel,
                           double lo, double hi)
{
    for (int ch = 1; ch <= 4; ++ch) {
        QAreaSeries *area = series[std::size_t(ch - 1)].Relay;
        QList<QPointF> upper{QPointF(double(FFrom), lo)};
        for (const TSampleRecorder::Band &b : recorder.RelayBands(ch, FFrom, FTo, pixel))
            upper << QPointF(double(b.From), lo) << QPointF(double(b.From), hi) << QPointF(double(b.To), hi)
                  << QPointF(double(b.To), lo);
        upper << QPointF(double(FTo), lo);
        area->upperSeries()->replace(upper);
        area->lowerSeries()->replace({QPointF(double(FFrom), lo), QPointF(double(FTo), lo)});
    }
}

void TChartPage::SetTimeTicks()
{
    const QLocale locale = LabelLocale ? LabelLocale() : QLocale();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const int maxTicks = std::max(2, int(Chart->plotArea().width()) / kTickWidth);
    const qint64 step = TickStep(FTo - FFrom, maxTicks);
    for (const QString &label : TimeAxis->categoriesLabels())
        TimeAxis->remove(label);
    TimeAxis->setRange(double(FFrom), double(FTo));
    TimeAxis->setStartValue(double(FFrom));
    for (const qint64 t : TickTimes(FFrom, FTo, step, zone)) {
        QString label = TickLabel(t, step, locale, zone);
        // The axis needs every label once: the same clock time on another
        // day gets an invisible mark.
        while (TimeAxis->categoriesLabels().contains(label))
            label += QChar(0x200B);
        TimeAxis->append(label, double(t));
    }
}

namespace {
void ShowSaveError(QWidget *parent, const QString &text)
{
    CurrentDialogs().ShowError(parent, ApplicationTitle(), ErrorBoxText(text));
}
} // namespace

void TChartPage::ExportCsv()
{
    SaveFileRequest req;
    req.title = QStringLiteral("Export CSV");
    req.initialFolder = Folder ? Folder() : QString();
    req.fileName =
        QStringLiteral("Q274TC_chart_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    req.defaultSuffix = QStringLiteral("csv");
    req.filter = QStringLiteral("CSV files (*.csv)");
    const std::optional<QString> path = CurrentDialogs().AskSaveFileName(this, req);
    if (!path)
        return;
    try {
        // The log's safe save: a failed export never damages an existing file.
        ComputeRange();
        WriteLogFileBytes(*path, ShownCsv(QTimeZone::systemTimeZone()));
    } catch (const std::exception &e) {
        ShowSaveError(this, QString::fromStdString(e.what()));
    }
}

void TChartPage::SavePicture()
{
    SaveFileRequest req;
    req.title = QStringLiteral("Save Picture");
    req.initialFolder = Folder ? Folder() : QString();
    req.fileName =
        QStringLiteral("Q274TC_chart_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    req.defaultSuffix = QStringLiteral("png");
    req.filter = QStringLiteral("PNG pictures (*.png)");
    const std::optional<QString> path = CurrentDialogs().AskSaveFileName(this, req);
    if (!path)
        return;
    if (FDirty)
        Redraw();
    if (!View->grab().save(*path, "PNG"))
        ShowSaveError(this, QStringLiteral("Cannot save the picture to %1").arg(*path));
}

} // namespace q274

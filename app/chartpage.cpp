#include "chartpage.h"

#include "dialogs.h"
#include "logfiles.h"
#include "shellrules.h"

#include <QAreaSeries>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
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

QString TimeFormat(qint64 span)
{
    if (span <= 2 * 60 * kMinute)
        return QStringLiteral("HH:mm:ss");
    if (span <= 24 * 60 * kMinute)
        return QStringLiteral("HH:mm");
    return QStringLiteral("MM-dd HH:mm");
}

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
    cmbRange = new QComboBox(this);
    cmbRange->setObjectName(QStringLiteral("cmbRange"));
    cmbRange->addItems({QStringLiteral("10 minutes"), QStringLiteral("1 hour"), QStringLiteral("8 hours"),
                        QStringLiteral("24 hours"), QStringLiteral("All")});
    cmbRange->setCurrentIndex(1);
    btnFollow = new QPushButton(QStringLiteral("Follow"), this);
    btnFollow->setObjectName(QStringLiteral("btnFollow"));
    btnFollow->setToolTip(QStringLiteral("Keep the newest readings in view"));
    btnExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    btnExport->setObjectName(QStringLiteral("btnExportCsv"));
    btnPicture = new QPushButton(QStringLiteral("Save Picture..."), this);
    btnPicture->setObjectName(QStringLiteral("btnSavePicture"));
    bar->addWidget(cmbRange);
    bar->addWidget(btnFollow);
    bar->addStretch(1);
    bar->addWidget(btnExport);
    bar->addWidget(btnPicture);

    Chart = new QChart;
    Chart->setMargins(QMargins(4, 4, 4, 4));
    Chart->legend()->setAlignment(Qt::AlignTop);
    // Axis numbers with the separator the read-outs use.
    Chart->setLocalizeNumbers(true);
    TimeAxis = new QDateTimeAxis;
    TimeAxis->setTickCount(6);
    ValueAxis = new QValueAxis;
    ValueAxis->setLabelFormat(QStringLiteral("%.1f"));
    Chart->addAxis(TimeAxis, Qt::AlignBottom);
    Chart->addAxis(ValueAxis, Qt::AlignLeft);
    // Bands first, so lines are drawn over them.
    for (std::size_t i = 0; i < 4; ++i) {
        const QColor colour = kChannelColours[i];
        ChannelSeries &s = Series[i];
        s.Relay = new QAreaSeries(new QLineSeries(this), new QLineSeries(this));
        QColor fill = colour;
        fill.setAlpha(45);
        s.Relay->setBrush(fill);
        s.Relay->setPen(Qt::NoPen);
        s.SetPoint = new QLineSeries;
        s.SetPoint->setPen(QPen(colour, 1, Qt::DashLine));
        s.Threshold = new QLineSeries;
        s.Threshold->setPen(QPen(colour, 1, Qt::DashDotLine));
        for (QAbstractSeries *a : std::initializer_list<QAbstractSeries *>{s.Relay, s.SetPoint, s.Threshold}) {
            Chart->addSeries(a);
            a->attachAxis(TimeAxis);
            a->attachAxis(ValueAxis);
            for (QLegendMarker *m : Chart->legend()->markers(a))
                m->setVisible(false);
        }
    }
    for (int ch = 1; ch <= 4; ++ch)
        Line(ch, 0);
    View = new TChartView(Chart, *this);
    View->setObjectName(QStringLiteral("chtView"));
    outer->addWidget(View, 1);

    FRedrawTimer = new QTimer(this);
    FRedrawTimer->setSingleShot(true);
    FRedrawTimer->setInterval(kRedrawInterval);
    connect(FRedrawTimer, &QTimer::timeout, this, [this] { Redraw(); });
    connect(cmbRange, &QComboBox::currentIndexChanged, this, [this] { RangeChosen(); });
    connect(btnFollow, &QPushButton::clicked, this, [this] { Follow(); });
    connect(btnExport, &QPushButton::clicked, this, [this] { ExportCsv(); });
    connect(btnPicture, &QPushButton::clicked, this, [this] { SavePicture(); });
    btnFollow->setEnabled(false);
}

TChartPage::~TChartPage() = default;

QLineSeries *TChartPage::Line(int channel, std::size_t run)
{
    std::vector<QLineSeries *> &lines = Series[std::size_t(channel - 1)].Lines;
    while (lines.size() <= run) {
        auto *s = new QLineSeries;
        s->setName(QStringLiteral("Ch %1").arg(channel));
        s->setPen(QPen(kChannelColours[std::size_t(channel - 1)], 2));
        Chart->addSeries(s);
        s->attachAxis(TimeAxis);
        s->attachAxis(ValueAxis);
        if (!lines.empty()) // one legend entry per channel
            for (QLegendMarker *m : Chart->legend()->markers(s))
                m->setVisible(false);
        lines.push_back(s);
    }
    return lines[run];
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
    FTo = to;
    FFrom = span > 0 ? to - span : FRecorder.FirstTime().value_or(to);
    if (FTo - FFrom < kMinSpan)
        FFrom = FTo - kMinSpan;
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

    for (int ch = 1; ch <= 4; ++ch) {
        ChannelSeries &s = Series[std::size_t(ch - 1)];
        std::vector<TSampleRecorder::Run> runs = FRecorder.Decimate(ch, FFrom, FTo, columns, fahrenheit);
        // Beyond the line budget the last line carries the rest, joined.
        while (runs.size() > kMaxLines) {
            TSampleRecorder::Run &tail = runs[runs.size() - 2];
            tail.insert(tail.end(), runs.back().begin(), runs.back().end());
            runs.pop_back();
        }
        for (std::size_t r = 0; r < std::max(runs.size(), s.Lines.size()); ++r) {
            QList<QPointF> points;
            if (r < runs.size()) {
                points.reserve(qsizetype(runs[r].size()));
                for (const TSampleRecorder::Point &p : runs[r]) {
                    points.append(QPointF(double(p.Time), p.Value));
                    if (p.Time >= FFrom && p.Time <= FTo)
                        span(p.Value);
                }
            }
            Line(ch, r)->replace(points);
        }
        for (QLegendMarker *m : Chart->legend()->markers(s.Lines[0]))
            m->setVisible(FRecorder.SampleCount(ch) > 0);

        // The set point is in the unit shown, like the read-out it is compared with.
        const ChannelSettings &set = FChannels.Settings(ch);
        if (set.Enabled) {
            const double sp = set.SetPoint;
            const double th = set.Mode == ModeCool ? sp - set.Dropout : sp + set.Dropout;
            s.SetPoint->replace({QPointF(double(FFrom), sp), QPointF(double(FTo), sp)});
            s.Threshold->replace({QPointF(double(FFrom), th), QPointF(double(FTo), th)});
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
    TimeAxis->setFormat(TimeFormat(FTo - FFrom));
    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(FFrom), QDateTime::fromMSecsSinceEpoch(FTo));

    const qint64 pixel = std::max<qint64>(1, (FTo - FFrom) / columns);
    for (int ch = 1; ch <= 4; ++ch) {
        QAreaSeries *area = Series[std::size_t(ch - 1)].Relay;
        QList<QPointF> upper{QPointF(double(FFrom), lo)};
        for (const TSampleRecorder::Band &b : FRecorder.RelayBands(ch, FFrom, FTo, pixel))
            upper << QPointF(double(b.From), lo) << QPointF(double(b.From), hi) << QPointF(double(b.To), hi)
                  << QPointF(double(b.To), lo);
        upper << QPointF(double(FTo), lo);
        area->upperSeries()->replace(upper);
        area->lowerSeries()->replace({QPointF(double(FFrom), lo), QPointF(double(FTo), lo)});
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
        WriteLogFileBytes(*path, FRecorder.CsvBytes());
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

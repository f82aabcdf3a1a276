// The Chart page: the recorded temperatures of the four channels over time,
// with each enabled channel's set point and switching threshold and the
// periods its relay was on; time ranges, wheel zoom and drag pan, following
// the newest data, CSV export and a picture of the chart.
#pragma once

#include "channels.h"
#include "samplerecorder.h"

#include <QLocale>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QAreaSeries;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace q274 {

class TChartView;

class TChartPage : public QWidget {
    Q_OBJECT
public:
    // Reads the history, the channels' settings and the unit (true: F) at
    // every redraw; all of them outlive the page.
    TChartPage(const TSampleRecorder &recorder, const TChannels &channels, std::function<bool()> useFahrenheit,
               QWidget *parent = nullptr);
    ~TChartPage() override;

    // The folder the export and picture dialogs start in.
    std::function<QString()> Folder;
    // The locale of the axis labels (the read-outs' decimal separator);
    // read at every redraw. Empty: the default locale.
    std::function<QLocale()> LabelLocale;

    // Something to show has changed: redraws at most ten times a second,
    // and only while the page is visible (at once when it is shown).
    void ScheduleRedraw();
    void Redraw();
    int RedrawCount() const { return FRedraws; }

    // The time ranges of the range list, in ms; 0: everything recorded.
    static const std::array<qint64, 5> kRanges;
    bool Following() const { return FFollowing; }
    void Follow();
    // Zooms the time axis by factor (< 1: in) around time at; while
    // following, the newest data stays at the right edge.
    void Zoom(double factor, qint64 at);
    // Moves the view by ms (> 0: later) and stops following.
    void Pan(qint64 ms);
    qint64 ViewFrom() const { return FFrom; }
    qint64 ViewTo() const { return FTo; }

    void ExportCsv();
    void SavePicture();

    QComboBox *cmbRange;
    QPushButton *btnFollow, *btnExport, *btnPicture;
    QChartView *View;
    QChart *Chart;
    QDateTimeAxis *TimeAxis;
    QValueAxis *ValueAxis;
    // Per channel: the lines (one per stretch without a break; the first
    // carries the legend entry), set point and threshold, relay band.
    struct ChannelSeries {
        std::vector<QLineSeries *> Lines;
        QLineSeries *SetPoint = nullptr;
        QLineSeries *Threshold = nullptr;
        QAreaSeries *Relay = nullptr;
    };
    std::array<ChannelSeries, 4> Series;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void RangeChosen();
    void ComputeRange();
    QLineSeries *Line(int channel, std::size_t run);

    const TSampleRecorder &FRecorder;
    const TChannels &FChannels;
    std::function<bool()> FUseFahrenheit;
    QTimer *FRedrawTimer;
    bool FDirty = true;
    bool FFollowing = true;
    qint64 FFrom = 0, FTo = 0;
    qint64 FSpan = 0; // set by zooming; 0: the range list's
    int FRedraws = 0;
};

} // namespace q274

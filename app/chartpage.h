// The Chart page: the recorded temperatures of the four channels over time,
// with each enabled channel's set point and switching threshold and the
// periods its relay was on; time ranges, wheel zoom and drag pan, following
// the newest data, CSV export and a picture of the chart.
#pragma once

#include "channels.h"
#include "historyload.h"
#include "samplerecorder.h"

#include <QColor>
#include <QLocale>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QAreaSeries;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QProgressBar;
class QCategoryAxis;
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
    // The rows of the export: live and opened history within the view, in
    // time order, after the header.
    QByteArray ShownCsv(const QTimeZone &zone) const;

    // Opened log files, drawn lighter beside the live run on the same time
    // axis. The dialog (the button, Ctrl+H) lets the user pick several.
    void OpenLogDialog();
    // Probes each file (the locale of its stamps, asking when two readings
    // are possible), then reads them on a thread of their own; the page
    // shows the progress and can cancel. Files that cannot be read are
    // reported; the rest are shown.
    void OpenLogs(const QStringList &paths);
    bool Loading() const { return FLoader.joinable(); }
    void CancelLoad();
    // Waits for a load to end (tests, the command line); false on timeout.
    bool WaitLoaded(int ms);
    void CloseLogs();
    const TSampleRecorder *History() const { return FHistory.get(); }
    QString HistoryStatus() const;

    QComboBox *cmbRange;
    QPushButton *btnFollow, *btnExport, *btnPicture;
    QPushButton *btnOpenLog, *btnCloseLog, *btnCancelLoad;
    QProgressBar *prgLoad;
    QLabel *lblHistory;
    QChartView *View;
    QChart *Chart;
    // Ticks on round local times, labelled in the locale's time format.
    QCategoryAxis *TimeAxis;
    QValueAxis *ValueAxis;
    // Per channel: the lines (one per stretch without a break; the first
    // carries the legend entry), set point and threshold, relay band.
    struct ChannelSeries {
        std::vector<QLineSeries *> Lines;
        QLineSeries *SetPoint = nullptr;
        QLineSeries *Threshold = nullptr;
        QAreaSeries *Relay = nullptr;
        QColor Colour;
        bool History = false;
    };
    std::array<ChannelSeries, 4> Series;
    std::array<ChannelSeries, 4> HistorySeries; // lighter, no set points

protected:
    void showEvent(QShowEvent *event) override;

private:
    void RangeChosen();
    void SetTimeTicks();
    void ComputeRange();
    void MakeSeries(std::array<ChannelSeries, 4> &series, bool history);
    QLineSeries *Line(std::array<ChannelSeries, 4> &series, int channel, std::size_t run);
    QLineSeries *Line(int channel, std::size_t run) { return Line(Series, channel, run); }
    // Draws one recorder's lines into series; widens lo..hi by what is in view.
    void DrawLines(const TSampleRecorder &recorder, std::array<ChannelSeries, 4> &series, int columns,
                   bool fahrenheit, double &lo, double &hi);
    void DrawBands(const TSampleRecorder &recorder, std::array<ChannelSeries, 4> &series, qint64 pixel, double lo,
                   double hi);
    void PollLoad();
    void LoadFinished();

    const TSampleRecorder &FRecorder;
    const TChannels &FChannels;
    std::function<bool()> FUseFahrenheit;
    QTimer *FRedrawTimer;
    bool FDirty = true;
    bool FFollowing = true;
    qint64 FFrom = 0, FTo = 0;
    qint64 FSpan = 0; // set by zooming; 0: the range list's
    int FRedraws = 0;

    std::unique_ptr<TSampleRecorder> FHistory;
    QString FHistoryStatus;
    std::thread FLoader;
    std::atomic<bool> FCancel{false}, FLoadDone{false};
    std::atomic<qint64> FLoadBytes{0}, FLoadTotal{0};
    std::unique_ptr<HistoryResult> FLoadResult; // written by the loader before FLoadDone
    QTimer *FLoadPoll;
};

} // namespace q274

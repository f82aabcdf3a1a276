// The Chart page's opened logs: picking the files, asking how to read their
// dates when that is open, reading them off the user-interface thread with
// a progress bar, and the export of what is shown.
#include "chartpage.h"

#include "dialogs.h"
#include "historyload.h"
#include "shellrules.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QBoxLayout>
#include <QLineSeries>
#include <QChart>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>

namespace q274 {

namespace {

constexpr qint64 kLeastSpan = 60'000; // an opened file of a few seconds is shown as a minute

// Asks once which reading of the dates is meant; the first stays chosen
// when the dialog is left.
int AskReading(QWidget *parent, const QString &path, const std::vector<StampChoice> &choices)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgLogReading"));
    dialog.setWindowTitle(QStringLiteral("Open Log"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *text = new QLabel(QStringLiteral("The dates in %1 can be read in more than one way. "
                                           "Which one is right for its first line?")
                                .arg(path),
                            &dialog);
    text->setWordWrap(true);
    auto *list = new QComboBox(&dialog);
    list->setObjectName(QStringLiteral("cmbLogReading"));
    for (const StampChoice &c : choices)
        list->addItem(QStringLiteral("%1 (%2)").arg(
            QDateTime::fromString(c.FirstStamp, Qt::ISODate).toString(QStringLiteral("d MMMM yyyy, HH:mm:ss")),
            c.Locale.nativeTerritoryName().isEmpty() ? c.Locale.name() : c.Locale.nativeTerritoryName()));
    text->setBuddy(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(text);
    layout->addWidget(list);
    layout->addWidget(buttons);
    if (CurrentDialogs().RunDialog(dialog, QStringLiteral("log reading")) != QDialog::Accepted)
        return -1;
    return std::max(0, list->currentIndex());
}

} // namespace

TChartPage::~TChartPage()
{
    FCancel = true;
    if (FLoader.joinable())
        FLoader.join();
}

QLineSeries *TChartPage::Line(std::array<ChannelSeries, 4> &series, int channel, std::size_t run)
{
    ChannelSeries &owner = series[std::size_t(channel - 1)];
    std::vector<QLineSeries *> &lines = owner.Lines;
    while (lines.size() <= run) {
        auto *s = new QLineSeries;
        QColor colour = owner.Colour;
        // The opened history paler and thinner: the live run stays in front.
        if (owner.History)
            colour = colour.lighter(150);
        s->setName(owner.History ? QStringLiteral("Ch %1 (log)").arg(channel) : QStringLiteral("Ch %1").arg(channel));
        s->setPen(QPen(colour, owner.History ? 1.5 : 2));
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

void TChartPage::OpenLogDialog()
{
    if (Loading())
        return;
    QFileDialog dialog(this, QStringLiteral("Open Log"), Folder ? Folder() : QString(),
                       QStringLiteral("Log files (*.log);;All files (*)"));
    dialog.setObjectName(QStringLiteral("dlgOpenLog"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (CurrentDialogs().RunDialog(dialog, QStringLiteral("open log")) != QDialog::Accepted)
        return;
    OpenLogs(dialog.selectedFiles());
}

void TChartPage::OpenLogs(const QStringList &paths)
{
    if (Loading() || paths.isEmpty())
        return;
    std::vector<HistoryFile> files;
    QStringList problems;
    bool asked = false;
    int askedIndex = 0;
    std::optional<QLocale> known;
    for (const QString &path : paths) {
        HistoryProbe probe = ProbeHistoryFile(path, LabelLocale ? LabelLocale() : QLocale(), known);
        if (!probe.Error.isEmpty()) {
            problems << probe.Error;
            continue;
        }
        if (probe.Choices.empty()) {
            problems << (probe.File.Size == 0
                             ? QStringLiteral("%1 is empty.").arg(path)
                             : QStringLiteral("%1 is not a log of this program: no line has a date and time it wrote.")
                                   .arg(path));
            continue;
        }
        if (probe.Choices.size() > 1) {
            // One question for all the files: a week of autosaves was written
            // in one locale.
            if (!asked) {
                askedIndex = AskReading(this, path, probe.Choices);
                asked = true;
            }
            if (askedIndex < 0)
                return;
            probe.File.Locale = probe.Choices[std::size_t(std::min<int>(askedIndex, int(probe.Choices.size()) - 1))].Locale;
            probe.File.FirstTime = FirstStampTime(path, probe.File.Locale);
        }
        known = probe.File.Locale;
        files.push_back(probe.File);
    }
    if (!problems.isEmpty())
        CurrentDialogs().ShowError(this, ApplicationTitle(), problems.join(u'\n'));
    if (files.empty())
        return;

    FCancel = false;
    FLoadDone = false;
    FLoadBytes = 0;
    FLoadTotal = 0;
    prgLoad->setValue(0);
    prgLoad->show();
    btnCancelLoad->show();
    btnOpenLog->setEnabled(false);
    lblHistory->setText(files.size() == 1 ? QStringLiteral("Reading 1 file...")
                                           : QStringLiteral("Reading %1 files...").arg(files.size()));
    FLoader = std::thread([this, files = std::move(files)]() mutable {
        auto result = std::make_unique<HistoryResult>(
            LoadHistory(std::move(files), FCancel, [this](qint64 done, qint64 total) {
                FLoadBytes = done;
                FLoadTotal = total;
            }));
        FLoadResult = std::move(result);
        FLoadDone = true;
    });
    FLoadPoll->start();
}

void TChartPage::PollLoad()
{
    const qint64 total = FLoadTotal.load();
    if (total > 0)
        prgLoad->setValue(int(std::min<qint64>(1000, FLoadBytes.load() * 1000 / total)));
    if (FLoadDone.load())
        LoadFinished();
}

void TChartPage::LoadFinished()
{
    FLoadPoll->stop();
    FLoader.join();
    prgLoad->hide();
    btnCancelLoad->hide();
    btnOpenLog->setEnabled(true);
    std::unique_ptr<HistoryResult> result = std::move(FLoadResult);
    if (result->Cancelled) {
        lblHistory->setText(FHistory ? FHistoryStatus : QString());
        return;
    }
    const HistoryCounts &c = result->Counts;
    FHistoryStatus = QStringLiteral("%1 data lines").arg(c.DataLines);
    if (c.Skipped > 0)
        FHistoryStatus += QStringLiteral(", %1 lines skipped").arg(c.Skipped);
    lblHistory->setText(FHistoryStatus);
    lblHistory->setToolTip(QStringLiteral("Lines read: %1, relay switches: %2").arg(c.Lines).arg(c.Events));
    if (!result->Errors.isEmpty())
        CurrentDialogs().ShowError(this, ApplicationTitle(), result->Errors.join(u'\n'));
    FHistory = std::move(result->History);
    btnCloseLog->setEnabled(true);
    // The opened files in view, the live run one click (Follow) away.
    if (const std::optional<qint64> first = FHistory->FirstTime()) {
        FFollowing = false;
        btnFollow->setEnabled(true);
        FFrom = *first;
        FTo = std::max(FHistory->LastTime().value_or(*first), FFrom + kLeastSpan);
    }
    FDirty = true;
    Redraw();
}

void TChartPage::CancelLoad() { FCancel = true; }

bool TChartPage::WaitLoaded(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (Loading()) {
        if (FLoadDone.load()) {
            LoadFinished();
            break;
        }
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(5);
    }
    return true;
}

void TChartPage::CloseLogs()
{
    if (Loading())
        return;
    FHistory.reset();
    FHistoryStatus.clear();
    lblHistory->clear();
    btnCloseLog->setEnabled(false);
    for (ChannelSeries &s : HistorySeries) {
        for (QLineSeries *l : s.Lines)
            l->clear();
        s.Relay->upperSeries()->clear();
        s.Relay->lowerSeries()->clear();
    }
    Follow();
}

QString TChartPage::HistoryStatus() const { return FHistoryStatus; }

QByteArray TChartPage::ShownCsv(const QTimeZone &zone) const
{
    // Both runs' rows within the view, merged by time: an opened file of
    // today may lie between the live readings.
    std::vector<std::pair<qint64, QByteArray>> live, opened;
    FRecorder.CsvRows(zone, FFrom, FTo, [&live](qint64 t, const QByteArray &row) { live.emplace_back(t, row); });
    if (FHistory)
        FHistory->CsvRows(zone, FFrom, FTo, [&opened](qint64 t, const QByteArray &row) { opened.emplace_back(t, row); });
    QByteArray out(TSampleRecorder::kCsvHeader);
    std::size_t a = 0, b = 0;
    while (a < opened.size() || b < live.size()) {
        const bool takeOpened = b >= live.size() || (a < opened.size() && opened[a].first <= live[b].first);
        out.append(takeOpened ? opened[a++].second : live[b++].second);
    }
    return out;
}

} // namespace q274

// Log files opened as a history: their readings, relay switches and breaks
// in a sample recorder of their own, which the chart draws as it draws the
// live one. Reading runs on any thread; nothing here touches a widget.
#pragma once

#include "history.h"
#include "samplerecorder.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace q274 {

// A file with the locale its stamps are read in, and where it starts.
struct HistoryFile {
    QString Path;
    QLocale Locale;
    qint64 FirstTime = 0;
    qint64 Size = 0;
};

// What looking at a file found before it is read.
struct HistoryProbe {
    HistoryFile File;
    std::vector<StampChoice> Choices; // empty: not a log of ours; several: ask
    QString Error;                    // the file cannot be opened
};
// Reads the start and end of path and tries every locale on its stamps;
// when known (the locale of the files before it) reads them all, that
// alone: a week of autosaves was written in one locale.
HistoryProbe ProbeHistoryFile(const QString &path, const QLocale &userLocale = QLocale(),
                              const std::optional<QLocale> &known = std::nullopt);
// The time of the file's first stamp in locale (0 when none reads).
qint64 FirstStampTime(const QString &path, const QLocale &locale);

struct HistoryResult {
    std::unique_ptr<TSampleRecorder> History;
    HistoryCounts Counts; // summed over the files
    QStringList Errors;   // one text per file that could not be read
    bool Cancelled = false;
};

// Reads files one after another in the order of their first stamp into one
// history: a run that goes on in the next file (an autosave) stays one line,
// a new connection starts another. progress(done, total) counts bytes.
HistoryResult LoadHistory(std::vector<HistoryFile> files, const std::atomic<bool> &cancel,
                          const std::function<void(qint64 done, qint64 total)> &progress = {});

} // namespace q274

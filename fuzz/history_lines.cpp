// Any bytes as a log file read back in a few locales' stamp formats, and any
// stamps offered to the locale detection: no crash, counts that add up, and
// only readings a log could hold.
#include "fuzzcheck.h"
#include "history.h"

#include <QTemporaryFile>

#include <cmath>
#include <cstdlib>

using namespace q274;

namespace {

struct CheckingSink : HistorySink {
    void Reading(qint64, int channel, double celsius) override
    {
        FUZZ_CHECK(channel >= 1 && channel <= 4);
        FUZZ_CHECK(std::isnan(celsius) || std::isfinite(celsius));
    }
    void Relay(qint64, int channel, bool) override { FUZZ_CHECK(channel >= 1 && channel <= 4); }
    void Connected(qint64) override {}
    void Disconnected(qint64) override {}
};

const std::vector<StampFormat> &Formats()
{
    static const std::vector<StampFormat> all = {
        StampFormat(QLocale::c()), StampFormat(QLocale(QLocale::German, QLocale::Germany)),
        StampFormat(QLocale(QLocale::English, QLocale::UnitedStates)), StampFormat(QLocale(QLocale::Persian, QLocale::Iran)),
        StampFormat(QLocale(QLocale::Korean, QLocale::SouthKorea))};
    return all;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("TZ", "Europe/Berlin", 1);
    Formats();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const StampFormat &format = Formats()[data[0] % Formats().size()];

    CheckingSink sink;
    HistoryLineReader reader(sink, format);
    const QList<QByteArray> lines = bytes.mid(1).split('\n');
    for (const QByteArray &line : lines)
        reader.Line(QString::fromUtf8(line));
    const HistoryCounts &c = reader.Counts();
    FUZZ_CHECK(c.Lines == lines.size());
    FUZZ_CHECK(c.Skipped + c.DataLines <= c.Lines);

    // The same bytes as a file: the streaming reader sees the same lines.
    QTemporaryFile file;
    FUZZ_CHECK(file.open());
    file.write(bytes.mid(1));
    file.flush();
    CheckingSink fileSink;
    HistoryLineReader fileReader(fileSink, format);
    FUZZ_CHECK(ReadLogFile(file.fileName(), fileReader).Error.isEmpty());
    FUZZ_CHECK(fileReader.Counts().DataLines == c.DataLines);

    // The stamps of the first lines against every locale, now and then:
    // trying them all is slow.
    if (data[0] % 16 == 0) {
        QStringList stamps;
        for (qsizetype i = 0; i < lines.size() && stamps.size() < 4; ++i)
            stamps << QString::fromUtf8(lines[i].left(64));
        for (const StampChoice &choice : DetectStampLocales(stamps, {}))
            FUZZ_CHECK(StampFormat(choice.Locale).Parse(stamps.front()).has_value());
    }
    return 0;
}

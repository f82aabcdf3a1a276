// Shared by the fuzz targets: a broken invariant aborts with its text, so
// libFuzzer keeps the input as a crash; and the decimal separators the
// read-outs meet, taken from every locale Qt knows.
#pragma once

#include <QChar>
#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <vector>

#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);                          \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// The window uses the first character of the locale's decimal point.
inline const std::vector<QChar> &DecimalSeparators()
{
    static const std::vector<QChar> seps = [] {
        std::vector<QChar> v{QChar('.'), QChar(',')};
        for (const QLocale &l :
             QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
            const QString p = l.decimalPoint();
            const QChar c = p.isEmpty() ? QChar('.') : p.at(0);
            bool known = false;
            for (QChar k : v)
                known = known || k == c;
            if (!known)
                v.push_back(c);
        }
        return v;
    }();
    return seps;
}

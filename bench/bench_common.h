// What the hot-path benchmarks and their bare baselines share, so both
// measure on the same input.
#pragma once

#include <QString>

// A day of logging: a data line a minute plus thermostat messages.
QString DayOfLog(int lines);

// The far end of a fresh pseudo-terminal (the board's side); its own end is
// ptsname() of it.
int OpenBoardEnd();

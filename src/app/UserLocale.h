#pragma once

#include <QLocale>

// The locale dates are shown in: the user's own, or Russian, the language of
// every text here, when the session names none (the C or POSIX locale would
// print times with seconds and English month names).
QLocale userLocale(const QLocale& system);

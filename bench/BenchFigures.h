#pragma once
// How the benchmarks time a step and print a figure: one line a figure, the
// description padded to a column, the value with three decimals and its unit.

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>
#include <functional>

inline QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

// Wall time of f in milliseconds.
inline double ms(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

inline void line(const QString &what, double value, const QString &unit = QStringLiteral("ms"))
{
    out() << what.leftJustified(62, QLatin1Char(' ')) << QString::number(value, 'f', 3) << ' ' << unit << Qt::endl;
}

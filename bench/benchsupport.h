#pragma once

#include <QStringList>

// A library of `count` scripts as the benchmarks use it: distinct names, bodies of 1 KiB.
inline QStringList scriptNames(qsizetype count)
{
    QStringList names;
    names.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        names << QStringLiteral("script number %1").arg(i);
    return names;
}

inline QStringList scriptBodies(qsizetype count, QChar fill = QLatin1Char('x'))
{
    return QStringList(count, QString(1024, fill));
}

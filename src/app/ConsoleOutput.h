#pragma once

#include <QByteArray>
#include <QLatin1Char>
#include <QString>

#include <cstdio>

namespace tarvik {

// A line for the console of a command-line run, in the system's own encoding, written at once
// so that it stands before anything the run prints after it.
inline void printLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace tarvik

#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <ctime>
#include <vector>

// CPU time for the benchmarks, in ms.

// This process, all threads.
inline double processCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// Another process, all its threads (nanoseconds from schedstat).
inline double cpuMs(qint64 pid)
{
    double ms = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            ms += double(stat.readAll().split(' ').value(0).toLongLong()) / 1e6;
    }
    return ms;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

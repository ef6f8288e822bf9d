#pragma once

// The process's peak memory, as the benchmarks report it.
#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace PeakMemory {

// Linux resets the high-water mark of the resident set when "5" is written to clear_refs.
inline void reset()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

// The high-water mark since the last reset, in KB, as text; "-1" when it cannot be read.
inline QByteArray kilobytes()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return "-1";
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0);
    return "-1";
}

struct Peaks
{
    double process = -1;  // the child's whole life, in MB
    double measured = -1; // the high-water mark the child reported for its measured part, in MB
};

// Runs `program` with `arguments` and, last, the path of a file where it writes kilobytes()
// after its measured part; both peaks stay -1 when it fails.
inline Peaks ofChild(const char* program, const QStringList& arguments)
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("peak"));
    std::vector<QByteArray> texts{QByteArray(program)};
    for (const QString& argument : arguments)
        texts.push_back(QFile::encodeName(argument));
    texts.push_back(QFile::encodeName(report));
    std::vector<char*> args;
    for (QByteArray& text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, args.data(), environ) != 0)
        return {};
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    QFile file(report);
    const double kb = file.open(QIODevice::ReadOnly) ? file.readAll().toDouble() : -1024;
    return {double(usage.ru_maxrss) / 1024.0, kb / 1024.0};
}

} // namespace PeakMemory

#include "snapshot_files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <array>

namespace SnapshotFiles {

namespace {

struct ReasonName
{
    SnapshotReason reason;
    const char* word;
    const char* text;
};

constexpr std::array kReasons = {
    ReasonName{SnapshotReason::FirstSaveOfDay, "daily", "First change of the day"},
    ReasonName{SnapshotReason::DeleteAll, "delete-all", "Before \"Delete All Tasks\""},
    ReasonName{SnapshotReason::RestoreAll, "restore-all", "Before \"Restore All Tasks\""},
    ReasonName{SnapshotReason::DeleteCategory, "delete-category",
               "Before \"Delete Selected Category (or Sub)\""},
    ReasonName{SnapshotReason::Import, "import", "Before an import"},
    ReasonName{SnapshotReason::Restore, "restore", "Before a restore"},
};

const QString kStampFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz");

} // namespace

QString folderOf(const QString& storePath)
{
    return QFileInfo(storePath).absolutePath() + QStringLiteral("/backups");
}

QString fileName(const QDateTime& madeUtc, SnapshotReason reason)
{
    QString word;
    for (const ReasonName& r : kReasons)
        if (r.reason == reason)
            word = QLatin1String(r.word);
    return QStringLiteral("Kestrune-%1Z-%2.db").arg(madeUtc.toUTC().toString(kStampFormat), word);
}

std::optional<SnapshotFile> parse(const QString& path)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Kestrune-(\\d{8}T\\d{6}\\.\\d{3})Z-([a-z-]+)\\.db$"));
    const QFileInfo info(path);
    const QRegularExpressionMatch match = pattern.match(info.fileName());
    if (!match.hasMatch())
        return std::nullopt;
    QDateTime made = QDateTime::fromString(match.captured(1), kStampFormat);
    if (!made.isValid())
        return std::nullopt;
    made.setTimeSpec(Qt::UTC);
    for (const ReasonName& r : kReasons)
        if (match.captured(2) == QLatin1String(r.word))
            return SnapshotFile{info.absoluteFilePath(), made, r.reason, info.size()};
    return std::nullopt;
}

QString describe(SnapshotReason reason)
{
    for (const ReasonName& r : kReasons)
        if (r.reason == reason)
            return QString::fromUtf8(r.text);
    return {};
}

QList<SnapshotFile> list(const QString& folder)
{
    QList<SnapshotFile> files;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList({QStringLiteral("Kestrune-*.db")}, QDir::Files, QDir::Name | QDir::Reversed))
        if (auto file = parse(dir.filePath(name)))
            files.append(*file);
    // The names sort by time already; equal stamps keep a fixed order.
    std::stable_sort(files.begin(), files.end(),
                     [](const SnapshotFile& a, const SnapshotFile& b) { return a.made > b.made; });
    return files;
}

QList<SnapshotFile> surplus(const QList<SnapshotFile>& newestFirst, const QDateTime& now,
                            const Keeping& keeping)
{
    // The spans follow one another back from now: all, then days, weeks and months.
    const QDateTime allSince = now.addDays(-2);
    const QDateTime daysSince = allSince.addDays(-14);
    const QDateTime weeksSince = daysSince.addDays(-8 * 7);
    const QDateTime monthsSince = weeksSince.addMonths(-12);
    QList<SnapshotFile> kept;
    QList<SnapshotFile> gone;
    QSet<QString> buckets;
    for (qsizetype i = 0; i < newestFirst.size(); ++i) {
        const SnapshotFile& file = newestFirst[i];
        const QDate day = file.made.toLocalTime().date();
        QString bucket;
        if (i == 0 || file.made >= allSince) {
            kept.append(file);
            continue;
        }
        if (file.made >= daysSince) {
            bucket = QStringLiteral("d") + day.toString(Qt::ISODate);
        } else if (file.made >= weeksSince) {
            int year = 0;
            const int week = day.weekNumber(&year);
            bucket = QStringLiteral("w%1-%2").arg(year).arg(week);
        } else if (file.made >= monthsSince) {
            bucket = QStringLiteral("m%1-%2").arg(day.year()).arg(day.month());
        } else {
            gone.append(file);
            continue;
        }
        // Newest first, so the first of each span is the newest in it.
        if (buckets.contains(bucket)) {
            gone.append(file);
        } else {
            buckets.insert(bucket);
            kept.append(file);
        }
    }
    qint64 total = 0;
    for (const SnapshotFile& file : kept)
        total += file.bytes;
    while (total > keeping.maxBytes && kept.size() > 1) {
        total -= kept.last().bytes;
        gone.append(kept.takeLast());
    }
    return gone;
}

void prune(const QString& folder, const QDateTime& now, const Keeping& keeping)
{
    QDir dir(folder);
    // Only one program uses a store at a time, and it makes one snapshot at a time: whatever
    // is still incomplete when this runs was left by a run that ended while writing it.
    for (const QString& name :
         dir.entryList({kIncompletePrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden))
        dir.remove(name);
    for (const SnapshotFile& file : surplus(list(folder), now, keeping))
        QFile::remove(file.path);
}

} // namespace SnapshotFiles

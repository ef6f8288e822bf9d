#include "reminder_texts.h"

namespace {

// A task's text may be as long as the user likes; a notification shows a few lines.
constexpr int kMostCharacters = 160;

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.simplified();
    if (text.size() > kMostCharacters)
        text = text.left(kMostCharacters - 1) + QChar(0x2026);
    return text;
}

} // namespace

namespace ReminderTexts {

ReminderText forTask(const DueTask& task, const QDate& today)
{
    return {task.due < today ? QStringLiteral("Overdue") : QStringLiteral("Due today"),
            QStringLiteral("%1\n%2\n%3")
                .arg(oneLine(task.text), oneLine(task.path), oneLine(task.dueText))};
}

ReminderText forMany(const QList<DueTask>& tasks)
{
    QStringList lines;
    for (qsizetype i = 0; i < std::min<qsizetype>(tasks.size(), kSingleMost); ++i)
        lines.append(QStringLiteral("%1 (%2)").arg(oneLine(tasks[i].text), oneLine(tasks[i].path)));
    if (tasks.size() > kSingleMost)
        lines.append(QStringLiteral("and %1 more").arg(tasks.size() - kSingleMost));
    return {QStringLiteral("%1 tasks are due").arg(tasks.size()), lines.join(QLatin1Char('\n'))};
}

} // namespace ReminderTexts

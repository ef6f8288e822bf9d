#include "scripted_prompts.h"

#include <QDialog>

void ScriptedPrompts::message(QWidget*, const QString& text, const QString& title, Icon icon)
{
    shown.append({Shown::Message, text, title, icon});
}

bool ScriptedPrompts::askYesNo(QWidget*, const QString& text, const QString& title)
{
    shown.append({Shown::YesNo, text, title, Icon::None});
    if (yesNoAnswers.empty())
        return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

QString ScriptedPrompts::input(QWidget*, const QString& prompt, const QString& title,
                               const QString&)
{
    shown.append({Shown::Input, prompt, title, Icon::None});
    if (inputAnswers.empty())
        return {};
    const QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

QString ScriptedPrompts::fileName(QWidget*, FileMode, const QString& title,
                                  const QString& suggested, const QString&)
{
    shown.append({Shown::File, suggested, title, Icon::None});
    if (fileAnswers.empty())
        return {};
    const QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

int ScriptedPrompts::exec(QDialog& dialog)
{
    shown.append({Shown::Dialog, dialog.windowTitle(), dialog.windowTitle(), Icon::None});
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    if (!dialogActions.empty()) {
        auto action = std::move(dialogActions.front());
        dialogActions.pop_front();
        action(dialog);
    }
    // A dialog the script left open is closed as with its close box.
    if (dialog.isVisible())
        dialog.close();
    return dialog.result();
}

QStringList ScriptedPrompts::messages() const
{
    QStringList texts;
    for (const Shown& s : shown)
        if (s.kind == Shown::Message)
            texts.append(s.text);
    return texts;
}

QStringList ScriptedPrompts::errorBoxes() const
{
    QStringList texts;
    for (const Shown& s : shown)
        if (s.kind == Shown::Message && s.title == QLatin1String("Application Error"))
            texts.append(s.text);
    return texts;
}

#pragma once

#include "prompts.h"

#include <QList>
#include <QString>
#include <deque>
#include <functional>

// Answers the program's prompts from a script and records every one that was shown.
class ScriptedPrompts : public Prompts
{
public:
    struct Shown
    {
        enum Kind
        {
            Message,
            YesNo,
            Input,
            Dialog,
            File,
        } kind;
        QString text;
        QString title;
        Icon icon = Icon::None;
    };

    ScriptedPrompts() { Prompts::install(this); }
    ~ScriptedPrompts() override { Prompts::install(nullptr); }

    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text, const QString& title) override;
    QString input(QWidget* parent, const QString& prompt, const QString& title,
                  const QString& initialText) override;
    int exec(QDialog& dialog) override;
    QString fileName(QWidget* parent, FileMode mode, const QString& title, const QString& suggested,
                     const QString& filter) override;

    // Answers, used in order. An unanswered question counts as "No", "Cancel" or closing.
    std::deque<bool> yesNoAnswers;
    std::deque<QString> inputAnswers;
    // Paths chosen in file dialogs; the suggested one is recorded as the prompt's text.
    std::deque<QString> fileAnswers;
    // Plays the user's part in a modal dialog; the dialog is shown while it runs.
    std::deque<std::function<void(QDialog&)>> dialogActions;

    QList<Shown> shown;
    QStringList messages() const;
    QStringList errorBoxes() const; // texts of "Application Error" boxes
    void clear() { shown.clear(); }
};

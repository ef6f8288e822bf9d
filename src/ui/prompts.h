#pragma once

#include <QString>

class QDialog;
class QWidget;

// Every modal question the program asks goes through here, so that tests can answer them.
class Prompts
{
public:
    enum class Icon
    {
        None,
        Exclamation,
        Critical,
    };

    virtual ~Prompts() = default;

    // A message box with only "OK".
    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // A message box with "Yes" and "No"; true for "Yes".
    virtual bool askYesNo(QWidget* parent, const QString& text, const QString& title) = 0;
    // An input box; the typed text, or the empty text on "Cancel".
    virtual QString input(QWidget* parent, const QString& prompt, const QString& title,
                          const QString& initialText) = 0;
    // Runs a dialog modally and returns its result code.
    virtual int exec(QDialog& dialog) = 0;
    // A file dialog, to open an existing file or to save one (the program asks before
    // replacing); the chosen path, or the empty text on "Cancel".
    enum class FileMode
    {
        Open,
        Save,
    };
    virtual QString fileName(QWidget* parent, FileMode mode, const QString& title,
                             const QString& suggested, const QString& filter) = 0;

    // The prompts in use; the desktop ones unless a test installed its own.
    static Prompts& current();
    static void install(Prompts* prompts);
};

// Message boxes and input boxes on the desktop.
class DesktopPrompts : public Prompts
{
public:
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text, const QString& title) override;
    QString input(QWidget* parent, const QString& prompt, const QString& title,
                  const QString& initialText) override;
    int exec(QDialog& dialog) override;
    QString fileName(QWidget* parent, FileMode mode, const QString& title, const QString& suggested,
                     const QString& filter) override;
};

// The title of message boxes and input boxes that give none of their own: the product name
// without its last word, shortened word by word to 40 characters at most.
QString applicationTitle(const QString& productName = QStringLiteral("Tolvendra Software"));

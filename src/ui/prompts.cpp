#include "prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {

DesktopPrompts g_desktop;
Prompts* g_current = &g_desktop;

// The stored texts use CR LF and lone CR line ends; a Qt label wants plain newlines.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

Prompts& Prompts::current()
{
    return *g_current;
}

void Prompts::install(Prompts* prompts)
{
    g_current = prompts ? prompts : &g_desktop;
}

void DesktopPrompts::message(QWidget* parent, const QString& text, const QString& title, Icon icon)
{
    QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning
                    : icon == Icon::Critical  ? QMessageBox::Critical
                                              : QMessageBox::NoIcon,
                    title, forDisplay(text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool DesktopPrompts::askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::NoIcon, title, forDisplay(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

QString DesktopPrompts::input(QWidget* parent, const QString& prompt, const QString& title,
                              const QString& initialText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initialText, &ok);
    return ok ? text : QString();
}

int DesktopPrompts::exec(QDialog& dialog)
{
    return dialog.exec();
}

QString DesktopPrompts::fileName(QWidget* parent, FileMode mode, const QString& title,
                                 const QString& suggested, const QString& filter)
{
    return mode == FileMode::Open ? QFileDialog::getOpenFileName(parent, title, suggested, filter)
                                  : QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

QString applicationTitle(const QString& productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(u' ');
        title = blank < 0 ? QString() : title.left(blank);
    } while (title.size() > 40);
    return title;
}

#pragma once

#include "prompts.h"

#include <QString>
#include <cstdio>
#include <cstdlib>

// A benchmark must not stop at a modal box: any prompt is a fault in the measured code.
class NoPrompts : public Prompts
{
public:
    void message(QWidget*, const QString& text, const QString&, Icon) override { fail(text); }
    bool askYesNo(QWidget*, const QString& text, const QString&) override { fail(text); }
    QString input(QWidget*, const QString& prompt, const QString&, const QString&) override
    {
        fail(prompt);
    }
    int exec(QDialog&) override { fail(QStringLiteral("a dialog")); }
    QString fileName(QWidget*, FileMode, const QString& title, const QString&,
                     const QString&) override
    {
        fail(title);
    }

private:
    [[noreturn]] static void fail(const QString& text)
    {
        std::fprintf(stderr, "unexpected prompt: %s\n", qPrintable(text));
        std::abort();
    }
};

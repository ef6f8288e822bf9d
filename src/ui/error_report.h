#pragma once

#include "prompts.h"

#include <QString>
#include <exception>

// Runs a handler's numbered steps. A step that fails shows the Application Error box with
// its number and the handler goes on with the next step; a failing condition counts as met,
// so the handler continues inside the branch it guards.
class Steps
{
public:
    // `location` is the window and routine, for example "Form1.listRoot".
    explicit Steps(QString location, QWidget* parent = nullptr)
        : m_location(std::move(location)), m_parent(parent)
    {
    }

    template <class F> void operator()(int line, F&& step)
    {
        try {
            step();
        } catch (...) {
            report(line, std::current_exception());
        }
    }

    template <class F> bool test(int line, F&& condition)
    {
        try {
            return condition();
        } catch (...) {
            report(line, std::current_exception());
            return true;
        }
    }

    void report(int line, std::exception_ptr failure) const;
    int failures() const { return m_failures; }

    // The box's text: description, CR LF, "in <location> at line <n>", CR CR, the plea.
    static QString text(const QString& location, int line, const QString& description);
    static QString supportEmail();

private:
    QString m_location;
    QWidget* m_parent;
    mutable int m_failures = 0;
};

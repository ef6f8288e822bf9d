#pragma once

#include <QString>
#include <stdexcept>

// A run-time failure of one step. Its text is what the user reads in the Application Error box,
// so it says plainly what went wrong.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description)
    {
    }
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

// The store could not read or write; the message names the file and the cause.
class StoreFailure : public Failure
{
public:
    using Failure::Failure;
};

#pragma once

#include <QString>

// What the user asked the find window for: the text and the two ticks.
struct FindQuery
{
    QString text;
    bool matchCase = false;
    bool includeDeleted = true;

    bool operator==(const FindQuery& other) const = default;
};

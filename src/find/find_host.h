#pragma once

#include "task_index.h"

#include <QList>

// What the find window needs of the window that opens it: the categories as they stand, the
// shown one with its lists as on screen, and a way to go to a match.
class FindHost
{
public:
    virtual ~FindHost() = default;
    // Every category in node order (the stored tree's order).
    virtual QList<FindCategory> categoriesForFind() const = 0;
    // Shows the match's category as a click on it would, selects its tab and its row.
    virtual void goToFindHit(const FindHit& hit) = 0;
};

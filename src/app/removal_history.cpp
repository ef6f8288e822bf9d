#include "removal_history.h"

#include <algorithm>

void RemovalHistory::push(Removal removal)
{
    m_removals.push_back(std::move(removal));
    if (m_removals.size() > kDepth)
        m_removals.pop_front();
}

void RemovalHistory::forgetRows()
{
    std::erase_if(m_removals, [](const Removal& r) { return std::holds_alternative<Row>(r); });
}

#pragma once

// libical's objects owned the C++ way, so that an early return or an exception frees them.
#include <libical/ical.h>

#include <cstdlib>
#include <memory>

namespace Ical {

struct ComponentFree
{
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

struct PropertyFree
{
    void operator()(icalproperty* property) const { icalproperty_free(property); }
};
using Property = std::unique_ptr<icalproperty, PropertyFree>;

// The texts libical's *_r functions hand over belong to the caller.
struct BufferFree
{
    void operator()(char* text) const { icalmemory_free_buffer(text); }
};
using Text = std::unique_ptr<char, BufferFree>;

struct TimeZoneFree
{
    void operator()(icaltimezone* zone) const { icaltimezone_free(zone, 1); }
};
using TimeZone = std::unique_ptr<icaltimezone, TimeZoneFree>;

} // namespace Ical

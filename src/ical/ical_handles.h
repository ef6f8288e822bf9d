#pragma once

// libical's objects owned the C++ way, so that an early return or an exception frees them.
#include "failure.h"

#include <libical/ical.h>

#include <QString>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>

// libical is loaded the first time a calendar is read or written, not with the program: it
// brings thousands of relocations that the loader would otherwise resolve before the window can
// open, for a feature most runs never use. Every function of it used here is listed below; the
// names are then defined to reach it through the loaded library, as OpenGL loaders do, so the
// code calls libical as it is documented. A function missing from the list fails to link.
#define KESTRUNE_ICAL_FUNCTIONS(X)                                                                 \
    X(icalcomponent_add_property)                                                                  \
    X(icalcomponent_as_ical_string_r)                                                              \
    X(icalcomponent_free)                                                                          \
    X(icalcomponent_get_first_component)                                                           \
    X(icalcomponent_get_first_property)                                                            \
    X(icalcomponent_get_next_component)                                                            \
    X(icalcomponent_get_next_property)                                                             \
    X(icalcomponent_get_uid)                                                                       \
    X(icalcomponent_isa)                                                                           \
    X(icalcomponent_new_clone)                                                                     \
    X(icalcomponent_new_vcalendar)                                                                 \
    X(icalcomponent_new_vtodo)                                                                     \
    X(icalcomponent_remove_component)                                                              \
    X(icalcomponent_remove_property)                                                               \
    X(icalcomponent_set_uid)                                                                       \
    X(icalmemory_free_buffer)                                                                      \
    X(icalmemory_new_buffer)                                                                       \
    X(icalparameter_get_tzid)                                                                      \
    X(icalparameter_get_xname)                                                                     \
    X(icalparameter_get_xvalue)                                                                    \
    X(icalparameter_new_x)                                                                         \
    X(icalparameter_set_xname)                                                                     \
    X(icalparser_parse_string)                                                                     \
    X(icalproperty_add_parameter)                                                                  \
    X(icalproperty_as_ical_string_r)                                                               \
    X(icalproperty_free)                                                                           \
    X(icalproperty_get_categories)                                                                 \
    X(icalproperty_get_due)                                                                        \
    X(icalproperty_get_first_parameter)                                                            \
    X(icalproperty_get_next_parameter)                                                             \
    X(icalproperty_get_percentcomplete)                                                            \
    X(icalproperty_get_priority)                                                                   \
    X(icalproperty_get_status)                                                                     \
    X(icalproperty_get_tzid)                                                                       \
    X(icalproperty_get_uid)                                                                        \
    X(icalproperty_get_value)                                                                      \
    X(icalproperty_get_value_as_string)                                                            \
    X(icalproperty_get_x)                                                                          \
    X(icalproperty_get_x_name)                                                                     \
    X(icalproperty_get_xlicerror)                                                                  \
    X(icalproperty_isa)                                                                            \
    X(icalproperty_kind_to_value_kind)                                                             \
    X(icalproperty_new)                                                                            \
    X(icalproperty_new_categories)                                                                 \
    X(icalproperty_new_completed)                                                                  \
    X(icalproperty_new_dtstamp)                                                                    \
    X(icalproperty_new_due)                                                                        \
    X(icalproperty_new_from_string)                                                                \
    X(icalproperty_new_percentcomplete)                                                            \
    X(icalproperty_new_priority)                                                                   \
    X(icalproperty_new_prodid)                                                                     \
    X(icalproperty_new_status)                                                                     \
    X(icalproperty_new_version)                                                                    \
    X(icalproperty_new_x)                                                                          \
    X(icalproperty_set_categories)                                                                 \
    X(icalproperty_set_tzid)                                                                       \
    X(icalproperty_set_value)                                                                      \
    X(icalproperty_set_x_name)                                                                     \
    X(icaltime_convert_to_zone)                                                                    \
    X(icaltime_current_time_with_zone)                                                             \
    X(icaltime_is_null_time)                                                                       \
    X(icaltime_is_utc)                                                                             \
    X(icaltime_null_date)                                                                          \
    X(icaltime_set_timezone)                                                                       \
    X(icaltimezone_free)                                                                           \
    X(icaltimezone_get_builtin_timezone)                                                           \
    X(icaltimezone_get_component)                                                                  \
    X(icaltimezone_get_utc_timezone)                                                               \
    X(icaltimezone_new)                                                                            \
    X(icaltimezone_set_component)                                                                  \
    X(icalvalue_get_text)                                                                          \
    X(icalvalue_isa)                                                                               \
    X(icalvalue_new_text)

namespace Ical {

// The library's file: libical 3 installs libical.so.3.
constexpr const char* kLibraryFile = "libical.so." KESTRUNE_LIBICAL_SOVERSION;

struct Library
{
#define KESTRUNE_ICAL_MEMBER(name) decltype(&::name) name = nullptr;
    KESTRUNE_ICAL_FUNCTIONS(KESTRUNE_ICAL_MEMBER)
#undef KESTRUNE_ICAL_MEMBER

    // Throws Failure when the library or one of its functions cannot be found.
    static Library load()
    {
        Library library;
        void* handle = dlopen(kLibraryFile, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            throw Failure(QStringLiteral("The calendar library could not be loaded: %1.")
                              .arg(QString::fromLocal8Bit(dlerror())));
#define KESTRUNE_ICAL_RESOLVE(name)                                                                \
    library.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                      \
    if (!library.name)                                                                             \
        throw Failure(QStringLiteral("The calendar library %1 has no %2.")                         \
                          .arg(QLatin1String(kLibraryFile), QLatin1String(#name)));
        KESTRUNE_ICAL_FUNCTIONS(KESTRUNE_ICAL_RESOLVE)
#undef KESTRUNE_ICAL_RESOLVE
        return library;
    }
};

// Loaded at the first call from any thread; a load that failed is tried again at the next.
inline const Library& library()
{
    static const Library loaded = Library::load();
    return loaded;
}

} // namespace Ical

#define icalcomponent_add_property (::Ical::library().icalcomponent_add_property)
#define icalcomponent_as_ical_string_r (::Ical::library().icalcomponent_as_ical_string_r)
#define icalcomponent_free (::Ical::library().icalcomponent_free)
#define icalcomponent_get_first_component (::Ical::library().icalcomponent_get_first_component)
#define icalcomponent_get_first_property (::Ical::library().icalcomponent_get_first_property)
#define icalcomponent_get_next_component (::Ical::library().icalcomponent_get_next_component)
#define icalcomponent_get_next_property (::Ical::library().icalcomponent_get_next_property)
#define icalcomponent_get_uid (::Ical::library().icalcomponent_get_uid)
#define icalcomponent_isa (::Ical::library().icalcomponent_isa)
#define icalcomponent_new_clone (::Ical::library().icalcomponent_new_clone)
#define icalcomponent_new_vcalendar (::Ical::library().icalcomponent_new_vcalendar)
#define icalcomponent_new_vtodo (::Ical::library().icalcomponent_new_vtodo)
#define icalcomponent_remove_component (::Ical::library().icalcomponent_remove_component)
#define icalcomponent_remove_property (::Ical::library().icalcomponent_remove_property)
#define icalcomponent_set_uid (::Ical::library().icalcomponent_set_uid)
#define icalmemory_free_buffer (::Ical::library().icalmemory_free_buffer)
#define icalmemory_new_buffer (::Ical::library().icalmemory_new_buffer)
#define icalparameter_get_tzid (::Ical::library().icalparameter_get_tzid)
#define icalparameter_get_xname (::Ical::library().icalparameter_get_xname)
#define icalparameter_get_xvalue (::Ical::library().icalparameter_get_xvalue)
#define icalparameter_new_x (::Ical::library().icalparameter_new_x)
#define icalparameter_set_xname (::Ical::library().icalparameter_set_xname)
#define icalparser_parse_string (::Ical::library().icalparser_parse_string)
#define icalproperty_add_parameter (::Ical::library().icalproperty_add_parameter)
#define icalproperty_as_ical_string_r (::Ical::library().icalproperty_as_ical_string_r)
#define icalproperty_free (::Ical::library().icalproperty_free)
#define icalproperty_get_categories (::Ical::library().icalproperty_get_categories)
#define icalproperty_get_due (::Ical::library().icalproperty_get_due)
#define icalproperty_get_first_parameter (::Ical::library().icalproperty_get_first_parameter)
#define icalproperty_get_next_parameter (::Ical::library().icalproperty_get_next_parameter)
#define icalproperty_get_percentcomplete (::Ical::library().icalproperty_get_percentcomplete)
#define icalproperty_get_priority (::Ical::library().icalproperty_get_priority)
#define icalproperty_get_status (::Ical::library().icalproperty_get_status)
#define icalproperty_get_tzid (::Ical::library().icalproperty_get_tzid)
#define icalproperty_get_uid (::Ical::library().icalproperty_get_uid)
#define icalproperty_get_value (::Ical::library().icalproperty_get_value)
#define icalproperty_get_value_as_string (::Ical::library().icalproperty_get_value_as_string)
#define icalproperty_get_x (::Ical::library().icalproperty_get_x)
#define icalproperty_get_x_name (::Ical::library().icalproperty_get_x_name)
#define icalproperty_get_xlicerror (::Ical::library().icalproperty_get_xlicerror)
#define icalproperty_isa (::Ical::library().icalproperty_isa)
#define icalproperty_kind_to_value_kind (::Ical::library().icalproperty_kind_to_value_kind)
#define icalproperty_new (::Ical::library().icalproperty_new)
#define icalproperty_new_categories (::Ical::library().icalproperty_new_categories)
#define icalproperty_new_completed (::Ical::library().icalproperty_new_completed)
#define icalproperty_new_dtstamp (::Ical::library().icalproperty_new_dtstamp)
#define icalproperty_new_due (::Ical::library().icalproperty_new_due)
#define icalproperty_new_from_string (::Ical::library().icalproperty_new_from_string)
#define icalproperty_new_percentcomplete (::Ical::library().icalproperty_new_percentcomplete)
#define icalproperty_new_priority (::Ical::library().icalproperty_new_priority)
#define icalproperty_new_prodid (::Ical::library().icalproperty_new_prodid)
#define icalproperty_new_status (::Ical::library().icalproperty_new_status)
#define icalproperty_new_version (::Ical::library().icalproperty_new_version)
#define icalproperty_new_x (::Ical::library().icalproperty_new_x)
#define icalproperty_set_categories (::Ical::library().icalproperty_set_categories)
#define icalproperty_set_tzid (::Ical::library().icalproperty_set_tzid)
#define icalproperty_set_value (::Ical::library().icalproperty_set_value)
#define icalproperty_set_x_name (::Ical::library().icalproperty_set_x_name)
#define icaltime_convert_to_zone (::Ical::library().icaltime_convert_to_zone)
#define icaltime_current_time_with_zone (::Ical::library().icaltime_current_time_with_zone)
#define icaltime_is_null_time (::Ical::library().icaltime_is_null_time)
#define icaltime_is_utc (::Ical::library().icaltime_is_utc)
#define icaltime_null_date (::Ical::library().icaltime_null_date)
#define icaltime_set_timezone (::Ical::library().icaltime_set_timezone)
#define icaltimezone_free (::Ical::library().icaltimezone_free)
#define icaltimezone_get_builtin_timezone (::Ical::library().icaltimezone_get_builtin_timezone)
#define icaltimezone_get_component (::Ical::library().icaltimezone_get_component)
#define icaltimezone_get_utc_timezone (::Ical::library().icaltimezone_get_utc_timezone)
#define icaltimezone_new (::Ical::library().icaltimezone_new)
#define icaltimezone_set_component (::Ical::library().icaltimezone_set_component)
#define icalvalue_get_text (::Ical::library().icalvalue_get_text)
#define icalvalue_isa (::Ical::library().icalvalue_isa)
#define icalvalue_new_text (::Ical::library().icalvalue_new_text)

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

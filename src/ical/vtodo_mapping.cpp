#include "content_lines.h"
#include "due_dates.h"
#include "failure.h"
#include "raw_text.h"
#include "task_uids.h"
#include "vtodo_mapping_internal.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>
#include <QUuid>
#include <QVarLengthArray>
#include <array>
#include <charconv>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <vector>

namespace VTodoMapping {

using namespace Internal;

namespace {

enum Field
{
    TaskField,
    PriorityField,
    TypeField,
    DueField,
    NotesField,
    DoneField
};

// The raw text of a field, beside its standard property, when that property alone would not
// give the text back. The index is the field's.
const char* const kRawNames[TaskListCodec::kFieldCount] = {
    "X-KESTRUNE-TASK", "X-KESTRUNE-PRIORITY", "X-KESTRUNE-TYPE",
    "X-KESTRUNE-DUE",  "X-KESTRUNE-NOTES",    "X-KESTRUNE-DONE",
};
// On X-KESTRUNE-TYPE when the type is empty but other categories remain: the first of them,
// so that the raw text is recognised as still true.
const char* const kFirstCategoryParameter = "X-KESTRUNE-FIRST";
const char* const kSortOrder = "X-APPLE-SORT-ORDER";
const char* const kCategoryPath = "X-KESTRUNE-CATEGORY";
const char* const kCategoryKey = "X-KESTRUNE-CATEGORY-KEY";
const char* const kDeleted = "X-KESTRUNE-DELETED";

const QString kDone = QStringLiteral("Done");

int priorityNumber(const QString& text)
{
    // Compared in turn rather than hashed: every task goes through here, and five short
    // texts are quicker to compare than one to hash.
    static const std::array<std::pair<QString, int>, 5> numbers = {{
        {QStringLiteral("Highest"), 1},
        {QStringLiteral("High"), 3},
        {QStringLiteral("Medium"), 5},
        {QStringLiteral("Low"), 7},
        {QStringLiteral("Lowest"), 9},
    }};
    for (const auto& [name, number] : numbers) {
        if (text == name)
            return number;
    }
    return 0;
}

QString priorityText(int number)
{
    switch (number) {
    case 1:
    case 2:
        return QStringLiteral("Highest");
    case 3:
    case 4:
        return QStringLiteral("High");
    case 5:
        return QStringLiteral("Medium");
    case 6:
    case 7:
        return QStringLiteral("Low");
    case 8:
    case 9:
        return QStringLiteral("Lowest");
    default:
        return {};
    }
}

// The date a due text gives a DUE property. libical prints no date after the year 3000 (it
// writes a null time, which it then refuses): a later date travels in the raw text alone.
std::optional<QDate> writableDue(const QString& text)
{
    constexpr int kLastYear = 3000;
    const std::optional<QDate> date = DueDates::parse(text);
    return date && date->year() <= kLastYear ? date : std::nullopt;
}

QString utf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The part of a type that CATEGORIES keeps as its first value: libical writes commas inside a
// value unescaped, so any reader splits the value there.
QString typeKey(const QString& type)
{
    const qsizetype comma = type.indexOf(u',');
    return RawText::skeleton(comma < 0 ? type : type.left(comma));
}

icalproperty* first(icalcomponent* c, icalproperty_kind kind)
{
    return icalcomponent_get_first_property(c, kind);
}

void removeAll(icalcomponent* c, icalproperty_kind kind)
{
    while (icalproperty* p = first(c, kind)) {
        icalcomponent_remove_property(c, p);
        icalproperty_free(p);
    }
}

std::vector<icalproperty*> xProperties(icalcomponent* c, const char* name)
{
    std::vector<icalproperty*> found;
    for (icalproperty* p = first(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
        const char* xName = icalproperty_get_x_name(p);
        if (xName && strcasecmp(xName, name) == 0)
            found.push_back(p);
    }
    return found;
}

const char* xValue(icalproperty* p)
{
    const char* value = icalproperty_get_x(p);
    return value ? value : icalproperty_get_value_as_string(p);
}

const char* xParameter(icalproperty* p, const char* name)
{
    for (icalparameter* a = icalproperty_get_first_parameter(p, ICAL_X_PARAMETER); a;
         a = icalproperty_get_next_parameter(p, ICAL_X_PARAMETER)) {
        const char* xName = icalparameter_get_xname(a);
        if (xName && strcasecmp(xName, name) == 0)
            return icalparameter_get_xvalue(a);
    }
    return nullptr;
}

void addX(icalcomponent* c, const char* name, const char* value, const char* parameter = nullptr,
          const char* parameterValue = nullptr)
{
    icalproperty* p = icalproperty_new_x(value);
    icalproperty_set_x_name(p, name);
    if (parameter && parameterValue) {
        icalparameter* a = icalparameter_new_x(parameterValue);
        icalparameter_set_xname(a, parameter);
        icalproperty_add_parameter(p, a);
    }
    icalcomponent_add_property(c, p);
}

// Sets one X- property of ours to `value` (none: removes it), leaving it untouched, and in
// its place, when it already says that.
void setX(icalcomponent* c, const char* name, const std::optional<QByteArray>& value,
          const char* parameter = nullptr, const std::optional<QByteArray>& parameterValue = {})
{
    const std::vector<icalproperty*> found = xProperties(c, name);
    if (found.size() == (value ? 1u : 0u)) {
        if (!value)
            return;
        const char* have = xValue(found.front());
        const char* haveParameter = parameter ? xParameter(found.front(), parameter) : nullptr;
        const bool sameParameter =
            parameterValue ? (haveParameter && *parameterValue == haveParameter) : !haveParameter;
        if (have && *value == have && sameParameter)
            return;
    }
    for (icalproperty* p : found) {
        icalcomponent_remove_property(c, p);
        icalproperty_free(p);
    }
    if (value) {
        addX(c, name, value->constData(), parameter,
             parameterValue ? parameterValue->constData() : nullptr);
    }
}

const QTimeZone& systemZone(const char* tzid)
{
    // Constructing a QTimeZone reads its zone file: once per TZID is enough.
    thread_local QHash<QByteArray, QTimeZone> known;
    const QByteArray id(tzid);
    auto it = known.find(id);
    if (it != known.end())
        return *it;
    // Only names of the zone database: QTimeZone would take other text for a POSIX rule or a
    // path, and "Nowhere" would become UTC.
    QByteArray name = id;
    if (!QTimeZone::isTimeZoneIdAvailable(name))
        name = QTimeZone::windowsIdToDefaultIanaId(id);
    // Some programs prefix the zone name ("/mozilla.org/20050126_1/Europe/Berlin").
    const QList<QByteArray> parts = id.split('/');
    if (name.isEmpty() && parts.size() >= 2)
        name = parts[parts.size() - 2] + '/' + parts.last();
    const QTimeZone zone = QTimeZone::isTimeZoneIdAvailable(name) ? QTimeZone(name) : QTimeZone();
    if (known.size() >= 256) // files naming zones by the thousand do not fill the memory
        known.clear();
    return *known.insert(id, zone);
}

// The date the user sees for a DUE: a time of day is taken to the local time zone first.
std::optional<QDate> localDueDate(icalproperty* due, const ZoneLookup& zones)
{
    if (!due)
        return std::nullopt;
    icaltimetype t = icalproperty_get_due(due);
    if (icaltime_is_null_time(t))
        return std::nullopt;
    const QDate date(t.year, t.month, t.day);
    if (!date.isValid())
        return std::nullopt;
    if (t.is_date)
        return date;
    const QTime time(qBound(0, t.hour, 23), qBound(0, t.minute, 59), qBound(0, t.second, 59));
    if (icaltime_is_utc(t))
        return QDateTime(date, time, Qt::UTC).toLocalTime().date();
    icalparameter* tzidParameter = icalproperty_get_first_parameter(due, ICAL_TZID_PARAMETER);
    const char* tzid = tzidParameter ? icalparameter_get_tzid(tzidParameter) : nullptr;
    if (!tzid || !*tzid)
        return date; // floating: the same wall-clock time everywhere
    if (icaltimezone* zone = zones ? zones(tzid) : nullptr) {
        const icaltimetype utc = icaltime_convert_to_zone(icaltime_set_timezone(&t, zone),
                                                          icaltimezone_get_utc_timezone());
        const QDate utcDate(utc.year, utc.month, utc.day);
        if (!utcDate.isValid())
            return date;
        return QDateTime(utcDate, QTime(utc.hour, utc.minute, utc.second), Qt::UTC)
            .toLocalTime()
            .date();
    }
    const QTimeZone& zone = systemZone(tzid);
    if (!zone.isValid())
        return date;
    return QDateTime(date, time, zone).toLocalTime().date();
}

bool isDone(icalcomponent* c)
{
    icalproperty* status = first(c, ICAL_STATUS_PROPERTY);
    return (status && icalproperty_get_status(status) == ICAL_STATUS_COMPLETED) ||
           first(c, ICAL_COMPLETED_PROPERTY);
}

QString textOf(icalcomponent* c, icalproperty_kind kind)
{
    icalproperty* p = first(c, kind);
    return p ? utf8(icalvalue_get_text(icalproperty_get_value(p))) : QString();
}

QString priorityOf(icalcomponent* c)
{
    icalproperty* p = first(c, ICAL_PRIORITY_PROPERTY);
    return p ? priorityText(icalproperty_get_priority(p)) : QString();
}

std::optional<qint64> sortOrderOf(icalcomponent* c)
{
    const std::vector<icalproperty*> found = xProperties(c, kSortOrder);
    if (found.empty())
        return std::nullopt;
    bool ok = false;
    const qint64 order = QByteArray(xValue(found.front())).trimmed().toLongLong(&ok);
    return ok ? std::optional(order) : std::nullopt;
}

// A TEXT property set to `text`; a text libical would refuse (nothing but blanks) is left out.
void setText(icalcomponent* c, icalproperty_kind kind, const QString& text)
{
    if (first(c, kind) ? textOf(c, kind) == text : text.isEmpty())
        return;
    if (!RawText::hasVisible(text)) {
        icalproperty* p = first(c, kind);
        if (p) {
            icalcomponent_remove_property(c, p);
            icalproperty_free(p);
        }
        return;
    }
    const QByteArray value = RawText::printable(text).toUtf8();
    if (icalproperty* p = first(c, kind)) {
        icalproperty_set_value(p, icalvalue_new_text(value.constData()));
        return;
    }
    icalproperty* p = icalproperty_new(kind);
    icalproperty_set_value(p, icalvalue_new_text(value.constData()));
    icalcomponent_add_property(c, p);
}

void setPriority(icalcomponent* c, const QString& text)
{
    const int number = priorityNumber(text);
    if (priorityOf(c) == priorityText(number))
        return;
    removeAll(c, ICAL_PRIORITY_PROPERTY);
    if (number)
        icalcomponent_add_property(c, icalproperty_new_priority(number));
}

void setDue(icalcomponent* c, const std::optional<QDate>& wanted)
{
    // A DUE with a time of day stays as it is while the date the user sees is the same.
    if (localDueDate(first(c, ICAL_DUE_PROPERTY), {}) == wanted)
        return;
    removeAll(c, ICAL_DUE_PROPERTY);
    if (!wanted)
        return;
    // DUE and DURATION exclude each other; the date the user set wins.
    removeAll(c, ICAL_DURATION_PROPERTY);
    icaltimetype due = icaltime_null_date();
    due.year = wanted->year();
    due.month = wanted->month();
    due.day = wanted->day();
    due.is_date = 1;
    icalcomponent_add_property(c, icalproperty_new_due(due));
}

void setDone(icalcomponent* c, const QString& text)
{
    const bool done = text == kDone;
    if (isDone(c) == done)
        return;
    removeAll(c, ICAL_STATUS_PROPERTY);
    if (done) {
        icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_COMPLETED));
        removeAll(c, ICAL_PERCENTCOMPLETE_PROPERTY);
        icalcomponent_add_property(c, icalproperty_new_percentcomplete(100));
        if (!first(c, ICAL_COMPLETED_PROPERTY)) {
            icalcomponent_add_property(
                c, icalproperty_new_completed(
                       icaltime_current_time_with_zone(icaltimezone_get_utc_timezone())));
        }
        return;
    }
    icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    removeAll(c, ICAL_COMPLETED_PROPERTY);
    if (icalproperty* percent = first(c, ICAL_PERCENTCOMPLETE_PROPERTY)) {
        if (icalproperty_get_percentcomplete(percent) >= 100)
            removeAll(c, ICAL_PERCENTCOMPLETE_PROPERTY);
    }
}

// Replaces only the first CATEGORIES value: the others belong to whoever wrote them.
void setType(icalcomponent* c, const QString& text)
{
    icalproperty* p = first(c, ICAL_CATEGORIES_PROPERTY);
    const QString have = p ? utf8(icalproperty_get_categories(p)) : QString();
    if (have == text && (p || text.isEmpty()))
        return;
    if (!RawText::hasVisible(text)) {
        if (p) {
            icalcomponent_remove_property(c, p);
            icalproperty_free(p);
        }
        return;
    }
    const QByteArray value = RawText::printable(text).toUtf8();
    if (p)
        icalproperty_set_categories(p, value.constData());
    else
        icalcomponent_add_property(c, icalproperty_new_categories(value.constData()));
}

// Which fields need their raw text beside the standard property, as the property alone would
// not give the text back. `category` is the first CATEGORIES value the VTODO ends up with.
struct RawTexts
{
    std::array<bool, TaskListCodec::kFieldCount> needed{};
    // On the raw type, when reading would not recognise the first category as still saying it.
    std::optional<QByteArray> firstCategory;
};

RawTexts rawTextsOf(const TaskListCodec::Fields& fields, const std::optional<QDate>& due,
                    const char* category, DueTexts& dueTexts)
{
    RawTexts raw;
    // SUMMARY and DESCRIPTION hold the text, unless libical would alter it (or it was left out
    // as blank).
    raw.needed[TaskField] = RawText::altersAsText(fields[TaskField]);
    raw.needed[NotesField] = RawText::altersAsText(fields[NotesField]);

    const QString& priority = fields[PriorityField];
    raw.needed[PriorityField] = !priority.isEmpty() && priorityNumber(priority) == 0;

    const QString& type = fields[TypeField];
    // The first CATEGORIES value holds the type, unless it was left out as empty or blank.
    raw.needed[TypeField] =
        RawText::altersAsText(type) || type.contains(u',') || (type.isEmpty() && category);
    if (raw.needed[TypeField]) {
        const QString firstCategory = utf8(category);
        if (typeKey(type) != typeKey(firstCategory))
            raw.firstCategory = RawText::encode(firstCategory);
    }

    const QString& dueText = fields[DueField];
    raw.needed[DueField] = due ? dueTexts(*due) != dueText : !dueText.isEmpty();

    const QString& done = fields[DoneField];
    raw.needed[DoneField] = !done.isEmpty() && done != kDone;
    return raw;
}

// The order the raw texts are written in.
constexpr std::array<Field, TaskListCodec::kFieldCount> kRawOrder = {
    TaskField, NotesField, PriorityField, TypeField, DueField, DoneField};

const QByteArray& encodedPath(PrintContext& context, const QStringList& path)
{
    if (context.encodedPath.isEmpty() || context.path != path) {
        context.path = path;
        context.encodedPath = RawText::encodePath(path);
    }
    return context.encodedPath;
}

const QByteArray& encodedKey(PrintContext& context, const QString& key)
{
    if (context.encodedKey.isEmpty() || context.key != key) {
        context.key = key;
        context.encodedKey = RawText::encode(key);
    }
    return context.encodedKey;
}

// Changes in a kept VTODO only what the task says otherwise: everything else stays as the
// other program wrote it.
void patch(icalcomponent* c, const CalendarTask& task, PrintContext& context)
{
    // A task from another program keeps the UID that program gave it, which is the task's own
    // identity (TaskUids::fromCalendarUid); a copy with none, or another task's, gets the task's.
    const QByteArray uid = task.uid.toUtf8();
    const char* haveUid = icalcomponent_get_uid(c);
    if (!task.uid.isEmpty() && (!haveUid || !*haveUid ||
                                (uid != haveUid && TaskUids::fromCalendarUid(utf8(haveUid)) !=
                                                       TaskUids::fromCalendarUid(task.uid))))
        icalcomponent_set_uid(c, uid.constData());

    const TaskListCodec::Fields& f = task.fields;
    setText(c, ICAL_SUMMARY_PROPERTY, f[TaskField]);
    setText(c, ICAL_DESCRIPTION_PROPERTY, f[NotesField]);
    setPriority(c, f[PriorityField]);
    setType(c, f[TypeField]);
    const std::optional<QDate> due = writableDue(f[DueField]);
    setDue(c, due);
    setDone(c, f[DoneField]);

    icalproperty* category = first(c, ICAL_CATEGORIES_PROPERTY);
    const RawTexts raw = rawTextsOf(
        f, due, category ? icalproperty_get_categories(category) : nullptr, context.dueTexts);
    for (const Field field : kRawOrder) {
        const bool type = field == TypeField;
        setX(c, kRawNames[field],
             raw.needed[field] ? std::optional(RawText::encode(f[field])) : std::nullopt,
             type ? kFirstCategoryParameter : nullptr, type ? raw.firstCategory : std::nullopt);
    }

    if (sortOrderOf(c) != task.sortOrder || xProperties(c, kSortOrder).size() > 1) {
        setX(c, kSortOrder,
             task.sortOrder ? std::optional(QByteArray::number(*task.sortOrder)) : std::nullopt);
    }
    setX(c, kCategoryPath,
         task.categoryPath.isEmpty() ? std::nullopt
                                     : std::optional(encodedPath(context, task.categoryPath)));
    setX(c, kCategoryKey,
         task.categoryKey.isEmpty() ? std::nullopt
                                    : std::optional(encodedKey(context, task.categoryKey)));
    setX(c, kDeleted, task.deleted ? std::optional(QByteArrayLiteral("TRUE")) : std::nullopt);
}

// A TEXT property of a new VTODO; a text libical would refuse (nothing but blanks) is left out.
void addText(icalcomponent* c, icalproperty_kind kind, const QString& text)
{
    if (!RawText::hasVisible(text))
        return;
    icalproperty* p = icalproperty_new(kind);
    icalproperty_set_value(p, icalvalue_new_text(RawText::printable(text).toUtf8().constData()));
    icalcomponent_add_property(c, p);
}

// The VTODO of a task Kestrune made, built from its fields alone, as patching an empty VTODO
// would leave it, without looking for properties a new VTODO cannot have.
Ical::Component build(const CalendarTask& task, PrintContext& context)
{
    Ical::Component vtodo(icalcomponent_new_vtodo());
    icalcomponent* c = vtodo.get();
    // UID and DTSTAMP are required of every VTODO.
    if (!context.now) // the moment the file is written, read once for all of its tasks
        context.now = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
    const icaltimetype now = *context.now;
    icalcomponent_add_property(c, icalproperty_new_dtstamp(now));
    icalcomponent_set_uid(c, task.uid.isEmpty()
                                 ? QUuid::createUuid().toString(QUuid::WithoutBraces).toUtf8()
                                 : task.uid.toUtf8());

    const TaskListCodec::Fields& f = task.fields;
    addText(c, ICAL_SUMMARY_PROPERTY, f[TaskField]);
    addText(c, ICAL_DESCRIPTION_PROPERTY, f[NotesField]);
    if (const int priority = priorityNumber(f[PriorityField]))
        icalcomponent_add_property(c, icalproperty_new_priority(priority));
    QByteArray category;
    if (RawText::hasVisible(f[TypeField])) {
        category = RawText::printable(f[TypeField]).toUtf8();
        icalcomponent_add_property(c, icalproperty_new_categories(category.constData()));
    }
    const std::optional<QDate> due = writableDue(f[DueField]);
    if (due) {
        icaltimetype date = icaltime_null_date();
        date.year = due->year();
        date.month = due->month();
        date.day = due->day();
        date.is_date = 1;
        icalcomponent_add_property(c, icalproperty_new_due(date));
    }
    if (f[DoneField] == kDone) {
        icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_COMPLETED));
        icalcomponent_add_property(c, icalproperty_new_percentcomplete(100));
        icalcomponent_add_property(c, icalproperty_new_completed(now));
    } else {
        icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    }

    const RawTexts raw =
        rawTextsOf(f, due, category.isNull() ? nullptr : category.constData(), context.dueTexts);
    for (const Field field : kRawOrder) {
        if (!raw.needed[field])
            continue;
        const bool type = field == TypeField && raw.firstCategory;
        addX(c, kRawNames[field], RawText::encode(f[field]).constData(),
             type ? kFirstCategoryParameter : nullptr,
             type ? raw.firstCategory->constData() : nullptr);
    }

    if (task.sortOrder) {
        std::array<char, 24> number{}; // a qint64 and its NUL, without a QByteArray per task
        std::to_chars(number.data(), number.data() + number.size() - 1, *task.sortOrder);
        addX(c, kSortOrder, number.data());
    }
    if (!task.categoryPath.isEmpty())
        addX(c, kCategoryPath, encodedPath(context, task.categoryPath).constData());
    if (!task.categoryKey.isEmpty())
        addX(c, kCategoryKey, encodedKey(context, task.categoryKey).constData());
    if (task.deleted)
        addX(c, kDeleted, "TRUE");
    return vtodo;
}

// libical reads some values it would not read back as it prints them: a DTSTAMP of a bare date
// is printed with VALUE=DATE, which it then refuses. Such a property is refused on the way in,
// so that no task goes out in a form that cannot be read again.
const char* unprintableValue(icalproperty* p)
{
    const icalproperty_kind kind = icalproperty_isa(p);
    const icalvalue* value = icalproperty_get_value(p);
    if (!value || kind <= ICAL_ANY_PROPERTY || kind >= ICAL_NO_PROPERTY)
        return nullptr;
    // The default value of each property, looked up once: libical searches a table for it.
    static const std::array<icalvalue_kind, ICAL_NO_PROPERTY> defaults = [] {
        std::array<icalvalue_kind, ICAL_NO_PROPERTY> table{};
        for (int k = 0; k < ICAL_NO_PROPERTY; ++k)
            table[k] = icalproperty_kind_to_value_kind(icalproperty_kind(k));
        return table;
    }();
    const icalvalue_kind have = icalvalue_isa(value);
    const icalvalue_kind wanted = defaults[kind];
    if (have == wanted || wanted == ICAL_NO_VALUE || kind == ICAL_X_PROPERTY ||
        kind == ICAL_XLICERROR_PROPERTY)
        return nullptr;
    if (have == ICAL_DATE_VALUE && wanted == ICAL_DATETIME_VALUE) {
        switch (kind) {
        case ICAL_DTSTART_PROPERTY:
        case ICAL_DUE_PROPERTY:
        case ICAL_DTEND_PROPERTY:
        case ICAL_RECURRENCEID_PROPERTY:
        case ICAL_EXDATE_PROPERTY:
        case ICAL_RDATE_PROPERTY:
            return nullptr;
        default:
            return "a date where only a date-time is allowed";
        }
    }
    // Rare: another value type than the usual. Print it and read it back to see.
    const Ical::Text printed(icalproperty_as_ical_string_r(p));
    const Ical::Property again(printed ? icalproperty_new_from_string(printed.get()) : nullptr);
    const bool readsBack = again && icalproperty_isa(again.get()) == kind;
    return readsBack ? nullptr : "a value libical cannot read back as it writes it";
}

// Whether the VTODO says more than the properties Kestrune writes for a task of its own.
bool saysMoreThanKestrune(icalcomponent* c)
{
    if (icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT))
        return true;
    int categories = 0;
    bool rawType = false;
    for (icalproperty* p = first(c, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_UID_PROPERTY:
        case ICAL_DTSTAMP_PROPERTY:
        case ICAL_SUMMARY_PROPERTY:
        case ICAL_DESCRIPTION_PROPERTY:
        case ICAL_PRIORITY_PROPERTY:
        case ICAL_STATUS_PROPERTY:
        case ICAL_PERCENTCOMPLETE_PROPERTY:
        case ICAL_COMPLETED_PROPERTY:
            break;
        case ICAL_CATEGORIES_PROPERTY:
            ++categories;
            break;
        case ICAL_DUE_PROPERTY:
            if (!icalproperty_get_due(p).is_date)
                return true;
            break;
        case ICAL_X_PROPERTY: {
            const char* name = icalproperty_get_x_name(p);
            if (!name)
                return true;
            if (strcasecmp(name, kRawNames[TypeField]) == 0)
                rawType = true;
            else if (strcasecmp(name, kSortOrder) != 0 && strncasecmp(name, "X-KESTRUNE-", 11) != 0)
                return true;
            break;
        }
        default:
            return true;
        }
    }
    // A type with commas in it reads back as several categories, with its raw text beside.
    return categories > 1 && !rawType;
}

} // namespace

namespace Internal {

Ical::Text printComponent(icalcomponent* component)
{
    Ical::Text text(icalcomponent_as_ical_string_r(component));
    // A line whose last piece is 74 bytes long gets its fold between the CR and the LF that end
    // it: "\r" "\r\n " "\n". Readers then see a carriage return inside the line.
    static const char kSplit[] = "\r\r\n \n";
    char* at = text ? std::strstr(text.get(), kSplit) : nullptr;
    if (!at)
        return text;
    char* out = at;
    for (const char* in = at; *in;) {
        if (std::strncmp(in, kSplit, sizeof kSplit - 1) == 0) {
            *out++ = '\r';
            *out++ = '\n';
            in += sizeof kSplit - 1;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
    return text;
}

const char* firstError(icalcomponent* component)
{
    // An empty value ("DESCRIPTION:") is allowed, and other programs write it; libical drops
    // such a property and leaves a note in its place, which is dropped too, so that it never
    // reaches a file of ours. Every other note is a refusal.
    for (icalproperty* error = first(component, ICAL_XLICERROR_PROPERTY); error;) {
        const char* text = icalproperty_get_xlicerror(error);
        if (!text || std::strncmp(text, "No value for ", 13) != 0)
            return text ? text : "";
        icalproperty* next = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY);
        icalcomponent_remove_property(component, error);
        icalproperty_free(error);
        error = next;
    }
    for (icalproperty* p = first(component, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
        if (const char* problem = unprintableValue(p))
            return problem;
    }
    for (icalcomponent* child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
         child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT)) {
        if (const char* text = firstError(child))
            return text;
    }
    return nullptr;
}

CalendarTask readComponent(icalcomponent* c, ReadContext& context)
{
    // One walk over the properties finds the first of each kind read here, and ours: a walk
    // per kind would go through the whole VTODO again and again.
    icalproperty* uid = nullptr;
    icalproperty* summary = nullptr;
    icalproperty* description = nullptr;
    icalproperty* priority = nullptr;
    icalproperty* category = nullptr;
    icalproperty* dueProperty = nullptr;
    icalproperty* status = nullptr;
    icalproperty* completed = nullptr;
    QVarLengthArray<icalproperty*, 8> xs;
    for (icalproperty* p = first(c, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
        icalproperty** firstOfKind = nullptr;
        switch (icalproperty_isa(p)) {
        case ICAL_UID_PROPERTY:
            firstOfKind = &uid;
            break;
        case ICAL_SUMMARY_PROPERTY:
            firstOfKind = &summary;
            break;
        case ICAL_DESCRIPTION_PROPERTY:
            firstOfKind = &description;
            break;
        case ICAL_PRIORITY_PROPERTY:
            firstOfKind = &priority;
            break;
        case ICAL_CATEGORIES_PROPERTY:
            firstOfKind = &category;
            break;
        case ICAL_DUE_PROPERTY:
            firstOfKind = &dueProperty;
            break;
        case ICAL_STATUS_PROPERTY:
            firstOfKind = &status;
            break;
        case ICAL_COMPLETED_PROPERTY:
            firstOfKind = &completed;
            break;
        case ICAL_X_PROPERTY:
            xs.append(p);
            break;
        default:
            break;
        }
        if (firstOfKind && !*firstOfKind)
            *firstOfKind = p;
    }
    const auto text = [](icalproperty* p) {
        return p ? utf8(icalvalue_get_text(icalproperty_get_value(p))) : QString();
    };

    CalendarTask task;
    task.uid = uid ? utf8(icalproperty_get_uid(uid)) : QString();
    TaskListCodec::Fields& f = task.fields;
    f[TaskField] = text(summary);
    f[NotesField] = text(description);
    f[PriorityField] = priority ? priorityText(icalproperty_get_priority(priority)) : QString();
    if (const char* type = category ? icalproperty_get_categories(category) : nullptr) {
        // A list's tasks mostly share their type: they share its text too.
        if (context.typeBytes.isNull() || context.typeBytes != type) {
            context.typeBytes = QByteArray(type);
            context.type = utf8(type);
        }
        f[TypeField] = context.type;
    }
    const std::optional<QDate> due = localDueDate(dueProperty, context.zones);
    if (due)
        f[DueField] = context.dueTexts(*due);
    const bool done =
        (status && icalproperty_get_status(status) == ICAL_STATUS_COMPLETED) || completed;
    f[DoneField] = done ? kDone : QString();
    task.carriesMore = saysMoreThanKestrune(c);

    // Ours, and the sort order other programs share.
    for (icalproperty* p : xs) {
        const char* name = icalproperty_get_x_name(p);
        if (!name)
            continue;
        if (strcasecmp(name, kSortOrder) == 0) {
            bool ok = false;
            const qint64 order = QByteArrayView(xValue(p)).trimmed().toLongLong(&ok);
            if (ok && !task.sortOrder)
                task.sortOrder = order;
            continue;
        }
        if (strncasecmp(name, "X-KESTRUNE-", 11) != 0)
            continue;
        if (strcasecmp(name, kCategoryPath) == 0) {
            const char* value = xValue(p);
            if (context.pathBytes.isNull() || context.pathBytes != value) {
                context.pathBytes = value ? QByteArray(value) : QByteArray("");
                context.path = RawText::decodePath(value);
            }
            task.categoryPath = context.path;
        } else if (strcasecmp(name, kCategoryKey) == 0) {
            const char* value = xValue(p);
            if (context.keyBytes.isNull() || context.keyBytes != value) {
                context.keyBytes = value ? QByteArray(value) : QByteArray("");
                context.key = RawText::decode(value);
            }
            task.categoryKey = context.key;
        } else if (strcasecmp(name, kDeleted) == 0) {
            task.deleted =
                QByteArray(xValue(p)).trimmed().compare("TRUE", Qt::CaseInsensitive) == 0;
        } else {
            for (int field = 0; field < TaskListCodec::kFieldCount; ++field) {
                if (strcasecmp(name, kRawNames[field]) != 0)
                    continue;
                // The raw text stands only while the standard property still says what it
                // maps to: a later change by another program wins over it.
                const QString raw = RawText::decode(xValue(p));
                bool stands = false;
                switch (Field(field)) {
                case TaskField:
                case NotesField:
                    stands = RawText::skeleton(raw) == RawText::skeleton(f[field]);
                    break;
                case PriorityField:
                    stands = priorityText(priorityNumber(raw)) == f[field];
                    break;
                case TypeField: {
                    const char* named = xParameter(p, kFirstCategoryParameter);
                    stands = typeKey(named ? RawText::decode(named) : raw) == typeKey(f[field]);
                    break;
                }
                case DueField:
                    stands = writableDue(raw) == due;
                    break;
                case DoneField:
                    stands = (raw == kDone) == done;
                    break;
                }
                if (stands)
                    f[field] = raw;
                break;
            }
        }
    }
    return task;
}

Ical::Component parseVTodo(QByteArrayView text)
{
    // libical reads C strings: the copy brings the terminating NUL.
    const QByteArray terminated = text.toByteArray();
    if (const RawText::BadByte bad = RawText::firstBadByte(terminated);
        bad.kind != RawText::BadByte::None) {
        throw Failure(QStringLiteral("The task's iCalendar text holds %1.")
                          .arg(RawText::describe(bad, terminated)));
    }
    Ical::Component root(icalparser_parse_string(terminated.constData()));
    if (!root)
        throw Failure(QStringLiteral("The task's iCalendar text is not iCalendar."));
    if (const char* error = firstError(root.get())) {
        throw Failure(
            QStringLiteral("libical refuses the task's iCalendar text: %1").arg(utf8(error)));
    }
    if (icalcomponent_isa(root.get()) == ICAL_VTODO_COMPONENT)
        return root;
    icalcomponent* vtodo = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
    if (!vtodo)
        throw Failure(QStringLiteral("The task's iCalendar text holds no VTODO."));
    icalcomponent_remove_component(root.get(), vtodo);
    return Ical::Component(vtodo);
}

const QString& DueTexts::operator()(const QDate& date)
{
    auto it = m_texts.constFind(date.toJulianDay());
    if (it == m_texts.constEnd())
        it = m_texts.insert(date.toJulianDay(), DueDates::format(date));
    return *it;
}

namespace {

// Whether libical read sub-components it will not print: another program's own X- components
// and kinds it does not know (libical 3.0 reads both and leaves both out when printing).
bool holdsUnprintable(icalcomponent* c)
{
    for (icalcomponent* sub = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); sub;
         sub = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT)) {
        const icalcomponent_kind kind = icalcomponent_isa(sub);
        if (kind == ICAL_X_COMPONENT || kind == ICAL_NO_COMPONENT)
            return true;
    }
    return false;
}

// Whether `line` (without its line break) is one of the lines of `text`.
bool hasLine(QByteArrayView text, QByteArrayView line)
{
    for (qsizetype at = 0; (at = text.indexOf(line, at)) >= 0; at += line.size()) {
        const qsizetype after = at + line.size();
        if ((at == 0 || text[at - 1] == '\n') &&
            (after == text.size() || text[after] == '\r' || text[after] == '\n'))
            return true;
    }
    return false;
}

// `printed` with the sub-components of the VTODO `kept` that it lacks put back, as they were
// written, before its end: what another program wrote survives every time the task goes out.
Ical::Text withSubComponentsOf(Ical::Text printed, QByteArrayView kept)
{
    const QByteArrayView text(printed.get());
    QByteArray missing;
    int depth = 0;
    qsizetype blockBegin = 0;
    QByteArray begin;
    IcsText::ContentLines lines(kept, 1);
    IcsText::ContentLine line;
    while (lines.next(line)) {
        if (const auto name = IcsText::framing(line.text, "BEGIN:")) {
            if (++depth == 2) {
                blockBegin = line.begin;
                begin = "BEGIN:" + *name;
            }
        } else if (IcsText::framing(line.text, "END:") && depth-- == 2 &&
                   !hasLine(text, begin)) { // a kind libical printed is there already
            missing.append(kept.sliced(blockBegin, line.next - blockBegin));
            if (!missing.endsWith('\n'))
                missing.append("\r\n");
        }
    }
    // Before END:VTODO, the printed text's last line.
    qsizetype close = text.size() - 1;
    while (close > 0 && text[close - 1] != '\n')
        --close;
    if (missing.isEmpty() || close <= 0)
        return printed;
    const auto size = std::size_t(text.size() + missing.size());
    Ical::Text joined(static_cast<char*>(icalmemory_new_buffer(size + 1)));
    char* out = std::copy(text.begin(), text.begin() + close, joined.get());
    out = std::copy(missing.cbegin(), missing.cend(), out);
    out = std::copy(text.begin() + close, text.end(), out);
    *out = '\0';
    return joined;
}

} // namespace

Ical::Text print(const CalendarTask& task, QByteArrayView kept, PrintContext& context)
{
    if (kept.isEmpty())
        return printComponent(build(task, context).get());
    const Ical::Component vtodo = parseVTodo(kept);
    patch(vtodo.get(), task, context);
    Ical::Text printed = printComponent(vtodo.get());
    const QByteArrayView trimmed = kept.trimmed();
    if (holdsUnprintable(vtodo.get()) && trimmed.size() >= 11 &&
        qstrnicmp(trimmed.data(), "BEGIN:VTODO", 11) == 0)
        return withSubComponentsOf(std::move(printed), kept);
    return printed;
}

} // namespace Internal

QByteArray write(const CalendarTask& task, QByteArrayView kept)
{
    PrintContext context;
    const Ical::Text text = print(task, kept, context);
    return QByteArray(text.get());
}

QList<QByteArray> timeZoneIds(QByteArrayView vtodo)
{
    QList<QByteArray> ids;
    QByteArray unfolded = vtodo.toByteArray();
    for (const char* fold : {"\r\n ", "\r\n\t", "\n ", "\n\t"})
        unfolded.replace(fold, "");
    const QByteArray upper = unfolded.toUpper();
    for (qsizetype at = 0; (at = upper.indexOf(";TZID=", at)) >= 0;) {
        at += 6;
        qsizetype end = 0;
        if (at < unfolded.size() && unfolded[at] == '"') {
            end = unfolded.indexOf('"', ++at);
        } else {
            end = at;
            while (end < unfolded.size() && !QByteArrayView(":;\r\n").contains(unfolded[end]))
                ++end;
        }
        if (end <= at)
            continue;
        const QByteArray id = unfolded.mid(at, end - at);
        if (!ids.contains(id))
            ids.append(id);
        at = end;
    }
    return ids;
}

QByteArray timeZoneDefinitions(const QList<QByteArray>& tzids)
{
    // Made from the system's zone files once a run: a zone's history runs to kilobytes.
    static std::mutex mutex;
    static QHash<QByteArray, QByteArray> made;
    QByteArray out;
    for (const QByteArray& id : tzids) {
        const std::lock_guard lock(mutex);
        auto known = made.constFind(id);
        if (known == made.cend()) {
            QByteArray text;
            // Names of the system's zones only: nothing a file says may lead out of its folder.
            const bool plain = !id.startsWith('/') && !id.contains("..");
            icaltimezone* zone =
                plain ? icaltimezone_get_builtin_timezone(id.constData()) : nullptr;
            if (icalcomponent* definition = zone ? icaltimezone_get_component(zone) : nullptr) {
                const Ical::Component copy(icalcomponent_new_clone(definition));
                // Under the name the entries give it, not libical's own.
                if (icalproperty* tzid = first(copy.get(), ICAL_TZID_PROPERTY))
                    icalproperty_set_tzid(tzid, id.constData());
                const Ical::Text printed = printComponent(copy.get());
                text = printed ? QByteArray(printed.get()) : QByteArray();
            }
            // Only the system's zones are kept: what any file names is not.
            if (text.isEmpty())
                continue;
            known = made.insert(id, text);
        }
        out += *known;
    }
    return out;
}

CalendarTask read(QByteArrayView vtodo)
{
    const Ical::Component component = parseVTodo(vtodo);
    ReadContext context;
    CalendarTask task = readComponent(component.get(), context);
    const QByteArrayView trimmed = vtodo.trimmed();
    if (trimmed.size() >= 11 && qstrnicmp(trimmed.data(), "BEGIN:VTODO", 11) == 0) {
        task.vtodo = vtodo.toByteArray();
    } else {
        const Ical::Text text = printComponent(component.get());
        task.vtodo = QByteArray(text.get());
    }
    return task;
}

} // namespace VTodoMapping

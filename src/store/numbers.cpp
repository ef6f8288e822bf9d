#include "numbers.h"

#include "failure.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace Numbers {

namespace {

double parse(const QString& text, const QString& what)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        throw Failure(
            QStringLiteral("Type mismatch: \"%1\" is not a number (%2).").arg(text, what));
    return std::nearbyint(value); // the default rounding mode rounds half to even
}

int checked(const QString& text, const QString& what, double low, double high)
{
    const double value = parse(text, what);
    if (value < low || value > high)
        throw Failure(QStringLiteral("Overflow: %1 is out of range (%2).").arg(text, what));
    return int(value);
}

} // namespace

int toInt16(const QString& text, const QString& what)
{
    return checked(text, what, std::numeric_limits<qint16>::min(),
                   std::numeric_limits<qint16>::max());
}

int toInt32(const QString& text, const QString& what)
{
    return checked(text, what, std::numeric_limits<qint32>::min(),
                   std::numeric_limits<qint32>::max());
}

QString shortest(double value)
{
    // 'g' switches to an exponent from 100000 on ("1e+05"); the stored form is plain digits.
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

} // namespace Numbers

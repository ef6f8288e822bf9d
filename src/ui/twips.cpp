#include "twips.h"

#include "failure.h"

#include <QVariant>
#include <QWidget>
#include <cmath>

namespace Twips {

namespace {

const char* propertyName(Edge edge)
{
    switch (edge) {
    case Edge::Left:
        return "twipsLeft";
    case Edge::Top:
        return "twipsTop";
    case Edge::Width:
        return "twipsWidth";
    case Edge::Height:
        return "twipsHeight";
    }
    return "";
}

} // namespace

int toPixels(double twips)
{
    return int(std::lround(twips / kPerPixel));
}

void set(QWidget* widget, Edge edge, double twips)
{
    const float value = float(twips);
    if ((edge == Edge::Width || edge == Edge::Height) && value < 0)
        throw Failure(
            QStringLiteral("Invalid property value: %1 cannot be %2 twips %3.")
                .arg(widget->objectName())
                .arg(double(value))
                .arg(edge == Edge::Width ? QStringLiteral("wide") : QStringLiteral("high")));
    widget->setProperty(propertyName(edge), value);
    widget->setGeometry(toPixels(get(widget, Edge::Left)), toPixels(get(widget, Edge::Top)),
                        toPixels(get(widget, Edge::Width)), toPixels(get(widget, Edge::Height)));
}

float get(const QWidget* widget, Edge edge)
{
    const QVariant value = widget->property(propertyName(edge));
    if (value.isValid())
        return value.toFloat();
    const QRect r = widget->geometry();
    const int px = edge == Edge::Left    ? r.x()
                   : edge == Edge::Top   ? r.y()
                   : edge == Edge::Width ? r.width()
                                         : r.height();
    return float(px * kPerPixel);
}

void place(QWidget* widget, double left, double top, double width, double height)
{
    widget->setProperty("twipsLeft", float(left));
    widget->setProperty("twipsTop", float(top));
    widget->setProperty("twipsWidth", float(width));
    set(widget, Edge::Height, height);
}

} // namespace Twips

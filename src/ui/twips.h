#pragma once

class QWidget;

// Positions and sizes are kept in twips (15 to a device-independent pixel) on each widget, so
// the exact design values survive the rounding to pixels and can be read back.
namespace Twips {

constexpr double kPerPixel = 15.0;

enum class Edge
{
    Left,
    Top,
    Width,
    Height,
};

int toPixels(double twips);
// Sets one edge as a single-precision value and moves the widget. A negative size fails.
void set(QWidget* widget, Edge edge, double twips);
float get(const QWidget* widget, Edge edge);
void place(QWidget* widget, double left, double top, double width, double height);

} // namespace Twips

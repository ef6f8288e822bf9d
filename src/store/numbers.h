#pragma once

#include <QString>

namespace Numbers {

// A stored decimal text as a signed 16-bit whole number, rounded half to even as the
// stored widths and counters always were. Throws Failure naming `what` when the text is
// not a number or does not fit.
int toInt16(const QString& text, const QString& what);
// A stored decimal text as a whole number of any size the store uses (tab index, state).
int toInt32(const QString& text, const QString& what);
// A number in its shortest decimal form: 2200, 1234.5.
QString shortest(double value);

} // namespace Numbers

#include "error_report.h"

#include "failure.h"

#include <new>
#include <stdexcept>

namespace {

QString describe(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Failure& f) {
        return f.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}

} // namespace

QString Steps::supportEmail()
{
    return QStringLiteral(KESTRUNE_SUPPORT_EMAIL);
}

QString Steps::text(const QString& location, int line, const QString& description)
{
    return description + QStringLiteral("\r\nin Pennaro2021/08/31.") + location +
           QStringLiteral(" at line ") + QString::number(line) +
           QStringLiteral("\r\rPlease email screenshot of this message to ") + supportEmail();
}

void Steps::report(int line, std::exception_ptr failure) const
{
    ++m_failures;
    Prompts::current().message(m_parent, text(m_location, line, describe(failure)),
                               QStringLiteral("Application Error"), Prompts::Icon::Exclamation);
}

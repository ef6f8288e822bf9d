#include "tray_backend.h"

#include "qt_tray_backend.h"

namespace {

TrayBackend::Factory& factory()
{
    static TrayBackend::Factory instance;
    return instance;
}

} // namespace

std::unique_ptr<TrayBackend> TrayBackend::create()
{
    if (factory())
        return factory()();
    return std::make_unique<QtTrayBackend>();
}

void TrayBackend::setFactory(Factory f)
{
    factory() = std::move(f);
}

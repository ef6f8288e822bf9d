#include "program_module.h"

#include <QCoreApplication>
#include <QFile>
#include <dlfcn.h>

namespace ProgramModule {

Entry find(const char* file, const char* symbol)
{
    const QString path = QCoreApplication::applicationDirPath() + u'/' + QLatin1String(file);
    Entry entry;
    if (void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL))
        entry.address = dlsym(handle, symbol);
    if (!entry.address)
        entry.problem = QString::fromLocal8Bit(dlerror());
    return entry;
}

} // namespace ProgramModule

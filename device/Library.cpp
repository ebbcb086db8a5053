// dlopen and dlsym with the program's error texts.
#include "device/Library.h"

#include "core/Exception.h"

#include <dlfcn.h>

namespace {

QString LoaderError() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

tLibrary::tLibrary(const QString& fileName) : FileName(fileName) {
    dlerror();
    ModuleHandle = dlopen(fileName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!ModuleHandle)
        throw Exception(QStringLiteral("Системная ошибка : Невозможно загрузить библиотеку ") + FileName +
                        QStringLiteral(".\r\nПричина: ") + LoaderError());
}

tLibrary::~tLibrary() {
    if (ModuleHandle && dlclose(ModuleHandle) == 0) ModuleHandle = nullptr;
}

void* tLibrary::GetProc(const QString& name) const {
    dlerror();
    void* address = dlsym(ModuleHandle, name.toLatin1().constData());
    const QString error = LoaderError();
    if (!address || !error.isEmpty())
        throw Exception(QStringLiteral("Системная ошибка : Невозможно получить адрес процедуры ") + name +
                        QStringLiteral(" из библиотеки ") + FileName + QStringLiteral(".\r\nПричина: ") +
                        (error.isEmpty() ? QStringLiteral("символ не найден") : error));
    return address;
}

#include "platform/foundation/TDWUncaughtException.h"

#include "platform/foundation/TDWLog.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace {

QString currentTypeName()
{
    const std::type_info *type = abi::__cxa_current_exception_type();
    if (!type)
        return QStringLiteral("unknown exception");
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : type->name());
}

} // namespace

QString TDWUncaughtException::describeCurrent()
{
    const QString name = currentTypeName();
    try {
        throw;
    } catch (const std::exception &exception) {
        return name + QStringLiteral(": ") + QString::fromLocal8Bit(exception.what());
    } catch (...) {
        return name;
    }
}

void TDWUncaughtException::logCurrent(const QString &where)
{
    tdwLog(QStringLiteral("ERROR: Uncaught exception in %1: %2").arg(where, describeCurrent()));
}

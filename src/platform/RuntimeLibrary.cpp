#include "platform/RuntimeLibrary.h"

namespace kelvoran::platform {

RuntimeLibrary::RuntimeLibrary(const QString &name, int majorVersion)
    : m_library(name, majorVersion),
      m_fileName(QStringLiteral("lib%1.so.%2").arg(name).arg(majorVersion))
{
    if (!m_library.load())
        m_error = m_fileName + QStringLiteral(" could not be loaded: ") + m_library.errorString();
}

QFunctionPointer RuntimeLibrary::lookUp(const char *symbol)
{
    if (!m_library.isLoaded())
        return nullptr;
    const QFunctionPointer function = m_library.resolve(symbol);
    if (!function && m_error.isEmpty())
        m_error = m_fileName + QStringLiteral(" has no function ") + QLatin1String(symbol);
    return function;
}

} // namespace kelvoran::platform

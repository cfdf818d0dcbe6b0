#pragma once
#include <QLibrary>
#include <QString>

namespace kelvoran::platform {

// A shared library opened by its versioned file name (lib<name>.so.<major>) at the moment it is
// first needed, instead of at program start. libcurl, libsndfile and libpulse pull in some forty
// further libraries (TLS, Kerberos, LDAP, audio codecs), which would otherwise all be mapped
// before the window shows, although a fetch or a sound may come much later or never.
//
// The library stays loaded until the program ends. A library is usable only when it opened and
// every function asked for was found; otherwise error() tells which part was missing.
class RuntimeLibrary
{
public:
    RuntimeLibrary(const QString &name, int majorVersion);

    // Looks the function up by its C name and stores it in `slot`; a missing one leaves nullptr
    // there and makes the library unusable.
    template <typename Function> void resolve(const char *symbol, Function *&slot)
    {
        slot = reinterpret_cast<Function *>(lookUp(symbol));
    }

    bool isUsable() const { return m_error.isEmpty(); }
    // Why the library is unusable (the first failure), or empty.
    QString error() const { return m_error; }

private:
    QFunctionPointer lookUp(const char *symbol);

    QLibrary m_library;
    QString m_fileName; // for messages
    QString m_error;
};

} // namespace kelvoran::platform

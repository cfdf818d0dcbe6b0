#pragma once
#include <QString>

namespace kelvoran::platform {

// A desktop notification: a summary line and a body. Nothing happens, and nothing is reported,
// when the desktop has no notification service.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString &summary, const QString &body) = 0;
};

} // namespace kelvoran::platform

#include "watch/Announcer.h"

namespace kelvoran::watch {

Announcer::Announcer(platform::SoundPlayer &sound, platform::Notifier &notifier)
    : m_sound(sound), m_notifier(notifier)
{
}

void Announcer::setSounds(const QString &friendWav, const QString &enemyWav)
{
    m_friendWav = friendWav;
    m_enemyWav = enemyWav;
}

void Announcer::announce(bool isFriend, const QString &identifier, const QString &server)
{
    if (m_muted)
        return;
    m_sound.play(isFriend ? m_friendWav : m_enemyWav);
    // The identifier goes into the summary, which every notification service shows as plain
    // text: clan tags such as "<K>" or "&" in a name read as typed.
    m_notifier.notify(
        (isFriend ? QStringLiteral("Friend on line: ") : QStringLiteral("Foe on line: ")) +
            identifier,
        QStringLiteral("on ") + server);
}

} // namespace kelvoran::watch

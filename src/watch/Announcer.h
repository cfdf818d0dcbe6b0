#pragma once
// What an announcement does for the user, for every server alike: the kind's sound and a desktop
// notification naming the player and the server, unless announcements are muted.
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"

#include <QString>

namespace kelvoran::watch {

class Announcer
{
public:
    Announcer(platform::SoundPlayer &sound, platform::Notifier &notifier);

    // The sound files, as the window's fields hold them now, saved or not.
    void setSounds(const QString &friendWav, const QString &enemyWav);
    // Muted, announcements are still made (flags written, visits kept) but not heard or shown.
    void setMuted(bool muted) { m_muted = muted; }
    bool muted() const { return m_muted; }

    // Plays the kind's sound and raises "Friend on line: Bob" / "Foe on line: Bob" with the
    // body "on SERVER"; nothing while muted.
    void announce(bool isFriend, const QString &identifier, const QString &server);

private:
    platform::SoundPlayer &m_sound;
    platform::Notifier &m_notifier;
    QString m_friendWav;
    QString m_enemyWav;
    bool m_muted = false;
};

} // namespace kelvoran::watch

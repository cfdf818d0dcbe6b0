#pragma once
#include <QList>
#include <QString>
#include <optional>

namespace kelvoran::watch {

// One player on line, as cut out of the current_players page.
struct PlayerRow
{
    QString name; // the name cell's text with every "&nbsp;" deleted
    QString ip;   // the fourth centred cell after the name cell, unchanged

    friend bool operator==(const PlayerRow &, const PlayerRow &) = default;
};

// std::nullopt: the page holds no player table at all. Otherwise the rows in page order (maybe
// none: a table with only its heading, or the "No Players" row).
using PlayerTable = std::optional<QList<PlayerRow>>;

// Cuts the players out of the page by fixed text markers.
PlayerTable PlayerTableParser(const QString &page);

} // namespace kelvoran::watch

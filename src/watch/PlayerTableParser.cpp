#include "watch/PlayerTableParser.h"

#include <algorithm>
#include <vector>

namespace kelvoran::watch {

namespace {

// The page is not parsed as HTML: players are cut out between these fixed, case-sensitive
// markers. Every search below works on 0-based positions and gets -1 for "not found".
constexpr QStringView kRowStart = u"<tr><td";
constexpr QStringView kTableEnd = u"</table>";
constexpr QStringView kNameMarker = u"value=\"ban\"></div></td><td><div align=\"left\">";
constexpr QStringView kCellEnd = u"</div>";
constexpr QStringView kCentreMarker = u"align=\"center\">";

static_assert(kNameMarker.size() == 45);
static_assert(kCentreMarker.size() == 15);

// Finds the first occurrence of a marker at or after a position. Hits are remembered in page
// order as the text is scanned once from the start, so asking again from an earlier position
// (the centred cells of one row are searched again from the next row's name) costs a lookup,
// not a second scan.
class MarkerIndex
{
public:
    MarkerIndex(QStringView text, QStringView marker) : m_text(text), m_marker(marker) {}

    qsizetype next(qsizetype from)
    {
        for (;;) {
            const auto hit = std::lower_bound(m_hits.cbegin(), m_hits.cend(), from);
            if (hit != m_hits.cend())
                return *hit;
            if (m_scanned >= m_text.size())
                return -1;
            const qsizetype found = m_text.indexOf(m_marker, m_scanned);
            if (found < 0) {
                m_scanned = m_text.size();
                return -1;
            }
            m_hits.push_back(found);
            m_scanned = found + 1;
        }
    }

private:
    QStringView m_text;
    QStringView m_marker;
    std::vector<qsizetype> m_hits;
    qsizetype m_scanned = 0; // every hit that starts before this position is in m_hits
};

} // namespace

PlayerTable PlayerTableParser(const QString &page)
{
    const QStringView text(page);
    const qsizetype rowStart = text.indexOf(kRowStart);
    if (rowStart < 0)
        return std::nullopt;

    // The section runs from the first row start to the table end after it; a table that is
    // never closed runs to the end of the page.
    const qsizetype tableEnd = text.indexOf(kTableEnd, rowStart + 1);
    const QStringView section =
        tableEnd < 0 ? text.sliced(rowStart) : text.sliced(rowStart, tableEnd - rowStart);

    QList<PlayerRow> rows;
    MarkerIndex centres(section, kCentreMarker);
    // Rows of a malformed table can end up at the same IP cell (many name cells, then one set of
    // centred cells). They share one copy of its text, and its end is searched only once, so
    // such a page costs no more than a well-formed one.
    qsizetype previousCell = -1;
    QString previousIp;

    qsizetype from = 0;
    for (;;) {
        const qsizetype marker = section.indexOf(kNameMarker, from);
        if (marker < 0)
            break;
        const qsizetype nameStart = marker + kNameMarker.size();
        const qsizetype nameEnd = section.indexOf(kCellEnd, nameStart);
        if (nameEnd < 0)
            break;

        // The IP address is in the fourth centred cell after the end of the name cell.
        qsizetype cell = -1;
        qsizetype searchFrom = nameEnd;
        for (int i = 0; i < 4; ++i) {
            cell = centres.next(searchFrom);
            if (cell < 0)
                break;
            searchFrom = cell + 1;
        }
        if (cell < 0)
            break;
        if (cell != previousCell) {
            const qsizetype ipStart = cell + kCentreMarker.size();
            const qsizetype ipEnd = section.indexOf(kCellEnd, searchFrom);
            if (ipEnd < ipStart)
                break;
            previousCell = cell;
            previousIp = section.sliced(ipStart, ipEnd - ipStart).toString();
        }

        PlayerRow row;
        row.name = section.sliced(nameStart, nameEnd - nameStart).toString();
        row.name.remove(QLatin1String("&nbsp;"));
        row.ip = previousIp;
        rows.append(std::move(row));

        from = marker + 1;
    }
    return rows;
}

} // namespace kelvoran::watch

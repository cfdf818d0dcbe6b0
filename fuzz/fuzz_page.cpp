// The page scrape as the program runs it: the download delivers the body in pieces (here of 1 to
// 2048 bytes), each piece is decoded from Windows-1252 and appended, and the player table is cut
// out of the whole page. Besides crashes and hangs, checks what must hold for any page.
#include "platform/Windows1252.h"
#include "watch/PlayerTableParser.h"

#include <cstdint>
#include <cstdlib>

using kelvoran::platform::fromWindows1252;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString page;
    quint32 state = quint32(size) * 2654435761u; // piece lengths vary with the input
    for (qsizetype at = 0; at < bytes.size();) {
        state = state * 1664525u + 1013904223u;
        const qsizetype piece = qMin<qsizetype>(1 + (state >> 16) % 2048, bytes.size() - at);
        page += fromWindows1252(bytes.sliced(at, piece));
        at += piece;
    }
    // Decoding piece by piece is decoding the whole: one character per byte.
    if (page.size() != bytes.size() || page != fromWindows1252(bytes))
        std::abort();

    const kelvoran::watch::PlayerTable table = kelvoran::watch::PlayerTableParser(page);
    if (table.has_value() != page.contains(u"<tr><td"))
        std::abort(); // no table exactly when no row starts
    if (!table)
        return 0;
    // Every row comes from its own name marker, and its address cell ends where "</div>" begins.
    // (Not so the name: taking out "&nbsp;" may join the text around it into anything.)
    const qsizetype markers = page.count(u"value=\"ban\"></div></td><td><div align=\"left\">");
    if (table->size() > markers)
        std::abort();
    for (const kelvoran::watch::PlayerRow &row : *table) {
        if (row.ip.contains(u"</div>") || !page.contains(row.ip + QStringLiteral("</div>")))
            std::abort();
    }
    return 0;
}

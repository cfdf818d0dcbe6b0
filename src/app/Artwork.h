#pragma once
#include <QIcon>

namespace kelvoran::app {

// The program's own icon, the one the icon theme gets: a speaker sounding on a dark blue disc, in
// a 16-colour palette. Every size, 16x16 to 256x256, is the installed PNG of that size.
QIcon kelvoranIcon();
// The same drawing greyed out, for the tray while watching fails. Only the program's own icon goes
// into the icon theme.
QIcon failingIcon();
// The play buttons' picture: a right-pointing triangle, 16x16.
QIcon playIcon();

} // namespace kelvoran::app

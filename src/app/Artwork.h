#pragma once
#include <QIcon>

namespace kelvoran::app {

// The program's own icon: a small speaker with a sound wave, drawn at 16x16 (and larger sizes
// for trays that ask for them) in a 16-colour palette.
QIcon kelvoranIcon();
// The play buttons' picture: a right-pointing triangle, 16x16.
QIcon playIcon();

} // namespace kelvoran::app

#pragma once

#include <QByteArray>
#include <QIcon>

namespace vexil {

// The icon as a Windows .ico file: one image for each size the icon is drawn in, smallest first,
// each a 32-bit bitmap with its alpha channel and an AND mask for the transparent pixels.
// Bitmaps rather than PNG images: their bytes follow from the pixels alone (no compressor's
// version in them), so the committed file can be compared with the drawing byte for byte, and
// every Windows version and resource tool reads them.
QByteArray WindowsIconFile(const QIcon& icon);

}  // namespace vexil

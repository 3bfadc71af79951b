#pragma once

#include <QIcon>

namespace vexil {

// Icon resource 128: a printer's LAN card with an arrow bringing in new firmware.
QIcon AppIcon();

}  // namespace vexil

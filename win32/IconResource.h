// The program's icon resource: the windows' own icon and the about box's. A preprocessor name,
// since the resource compiler reads this file too.
#pragma once

#define VEXIL_ICON_RESOURCE 1

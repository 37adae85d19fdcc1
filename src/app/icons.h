// Tool bar icons, drawn at run time so the program needs no image files.
#pragma once

#include <QIcon>

namespace lumeno::app {

// The icon of a command id (an empty icon for ids without one).
QIcon CommandIcon(int id);

}  // namespace lumeno::app

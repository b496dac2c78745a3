#pragma once
// The program's icon, drawn in code so the window, the help card and the installed
// desktop icon are one picture and no image plugin is needed to read it.
#include <QIcon>
#include <QImage>

namespace lumbrix {

// The icon on a transparent square of `sizePx`.
QImage renderLumbrixIcon(int sizePx);

// The icon at the sizes desktops ask for.
QIcon lumbrixIcon();

}  // namespace lumbrix

// Writes the program's icon as a PNG for the desktop's icon theme, at build time, so the
// installed picture is the one the program draws.
#include <cstdio>

#include <QString>

#include "app/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE_PX OUTPUT.png\n", argv[0]);
        return 2;
    }
    const int sizePx = QString::fromLocal8Bit(argv[1]).toInt();
    if (sizePx <= 0 || !lumbrix::renderLumbrixIcon(sizePx).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

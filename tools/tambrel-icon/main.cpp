// Build-time helper: writes the window's icon as a PNG for the desktop entry.
#include <QGuiApplication>
#include <cstdio>

#include "app/icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tambrel-icon OUT.png\n");
        return 2;
    }
    if (!tambrel::pendulum_icon().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tambrel-icon: cannot write %s\n", argv[1]);
        return 4;
    }
    return 0;
}

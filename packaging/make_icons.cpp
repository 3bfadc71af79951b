// Writes the program's icon, at every size it is drawn in, into a hicolor icon theme folder:
// OUT/NxN/apps/vexilware.png. Run at build time on the offscreen platform.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "ui/AppIcon.h"

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexil_make_icons OUTPUT-FOLDER\n");
        return 2;
    }
    const QIcon icon = vexil::AppIcon();
    for (const QSize& size : icon.availableSizes()) {
        const QString folder =
            QString("%1/%2x%3/apps").arg(argv[1]).arg(size.width()).arg(size.height());
        if (!QDir().mkpath(folder) || !icon.pixmap(size).save(folder + "/vexilware.png")) {
            std::fprintf(stderr, "vexil_make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

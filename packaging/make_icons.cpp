// Writes the program's icon, at every size it is drawn in, either into a hicolor icon theme
// folder (OUT/NxN/apps/vexilware.png, for the Debian package) or, with --ico, as the Windows
// .ico file that the Windows build takes from resources/. Run on the offscreen platform.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>
#include <cstring>

#include "packaging/IconFile.h"
#include "ui/AppIcon.h"

namespace {

int WriteTheme(const QIcon& icon, const char* out) {
    for (const QSize& size : icon.availableSizes()) {
        const QString folder =
            QString("%1/%2x%3/apps").arg(out).arg(size.width()).arg(size.height());
        if (!QDir().mkpath(folder) || !icon.pixmap(size).save(folder + "/vexilware.png")) {
            std::fprintf(stderr, "vexil_make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

int WriteIco(const QIcon& icon, const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    const QByteArray bytes = vexil::WindowsIconFile(icon);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "vexil_make_icons: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QIcon icon = vexil::AppIcon();
    if (argc == 2) {
        return WriteTheme(icon, argv[1]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--ico") == 0) {
        return WriteIco(icon, argv[2]);
    }
    std::fprintf(stderr,
                 "usage: vexil_make_icons OUTPUT-FOLDER\n"
                 "       vexil_make_icons --ico FILE.ico\n");
    return 2;
}

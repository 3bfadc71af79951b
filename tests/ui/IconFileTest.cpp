#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QList>
#include <QPixmap>
#include <algorithm>
#include <cstdlib>

#include "packaging/IconFile.h"
#include "ui/AppIcon.h"

namespace vexil::test {
namespace {

// The Windows build takes the icon from resources/vexilware.ico because it has no Qt to draw it;
// these tests keep that file and the drawing in ui/AppIcon.cpp the same icon.
constexpr const char* kCommitted = VEXIL_WINDOWS_ICON;
constexpr const char* kRewrite =
    "resources/vexilware.ico is not the icon ui/AppIcon.cpp draws now; write it anew with "
    "`cmake --build build --target vexil_windows_icon` and commit it";

QByteArray ReadCommitted() {
    QFile file(kCommitted);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << kCommitted;
    return file.readAll();
}

TEST(WindowsIcon, CommittedFileIsWhatTheDrawingMakes) {
    const QByteArray committed = ReadCommitted();
    const QByteArray drawn = WindowsIconFile(AppIcon());
    ASSERT_EQ(committed.size(), drawn.size()) << kRewrite;
    // Qt's raster engine rounds antialiased edges by the processor's vector unit, so a drawing
    // on another machine may differ by a step or two of a channel at an edge; the container, the
    // sizes and every other byte must be the same.
    qsizetype first = 0;
    while (first < drawn.size() && std::abs(static_cast<unsigned char>(committed[first]) -
                                            static_cast<unsigned char>(drawn[first])) <= 2) {
        ++first;
    }
    EXPECT_EQ(first, drawn.size()) << "first difference at byte " << first << ": " << kRewrite;
}

// Read back by a reader of its own (Qt's ico plugin), the file holds each drawn size once, with
// the drawing's pixels and transparency: a check of the container and the bitmaps' layout
// (bottom-up rows, BGRA order, the mask's padding) that the byte comparison above cannot make.
TEST(WindowsIcon, ReadBackItHoldsEverySizeWithTheDrawingsPixels) {
    const QIcon icon = AppIcon();
    QImageReader reader(kCommitted, "ico");
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    QList<QSize> read_sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull()) << "image " << i << ": " << reader.errorString().toStdString();
        read_sizes.append(image.size());
        const QImage drawn =
            icon.pixmap(image.size()).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(drawn.size(), image.size()) << "a size the drawing does not have";
        int differing = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                differing += image.pixel(x, y) != drawn.pixel(x, y);
            }
        }
        EXPECT_EQ(differing, 0) << image.width() << "x" << image.height()
                                << ": pixels that differ from the drawing";
    }
    QList<QSize> drawn_sizes = icon.availableSizes();
    std::sort(drawn_sizes.begin(), drawn_sizes.end(),
              [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
    EXPECT_EQ(read_sizes, drawn_sizes) << "the file's sizes, smallest first";
}

}  // namespace
}  // namespace vexil::test

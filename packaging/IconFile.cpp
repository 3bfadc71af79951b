#include "packaging/IconFile.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <algorithm>

namespace vexil {

namespace {

void PutU16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void PutU32(QByteArray& out, qint64 value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.append(static_cast<char>((value >> shift) & 0xFF));
    }
}

// One image of the file: a BITMAPINFOHEADER whose height counts the colour rows and the mask
// rows together, the BGRA rows bottom-up, then the 1-bit AND mask (1 = transparent), each of
// its rows padded to four bytes.
QByteArray Bitmap(const QImage& drawn) {
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const int mask_stride = (width + 31) / 32 * 4;
    QByteArray out;
    PutU32(out, 40);
    PutU32(out, width);
    PutU32(out, 2 * height);
    PutU16(out, 1);   // planes
    PutU16(out, 32);  // bits per pixel
    PutU32(out, 0);   // BI_RGB
    PutU32(out, static_cast<qint64>(width) * height * 4 + mask_stride * height);
    PutU32(out, 0);  // pixels per metre, x and y
    PutU32(out, 0);
    PutU32(out, 0);  // colours used, important
    PutU32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = image.pixel(x, y);
            out.append(static_cast<char>(qBlue(pixel)));
            out.append(static_cast<char>(qGreen(pixel)));
            out.append(static_cast<char>(qRed(pixel)));
            out.append(static_cast<char>(qAlpha(pixel)));
        }
    }
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(mask_stride, '\0');
        for (int x = 0; x < width; ++x) {
            if (qAlpha(image.pixel(x, y)) == 0) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
    return out;
}

}  // namespace

QByteArray WindowsIconFile(const QIcon& icon) {
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(),
              [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
    QList<QByteArray> images;
    for (const QSize& size : sizes) {
        images.append(Bitmap(icon.pixmap(size).toImage()));
    }
    // ICONDIR, then one ICONDIRENTRY (16 bytes) per image, then the images in that order.
    QByteArray out;
    PutU16(out, 0);  // reserved
    PutU16(out, 1);  // an icon, not a cursor
    PutU16(out, static_cast<int>(images.size()));
    qint64 offset = 6 + 16 * images.size();
    for (qsizetype i = 0; i < images.size(); ++i) {
        // A width or height of 256 is written as 0.
        out.append(static_cast<char>(sizes[i].width() & 0xFF));
        out.append(static_cast<char>(sizes[i].height() & 0xFF));
        out.append('\0');  // colours in a palette: none
        out.append('\0');  // reserved
        PutU16(out, 1);    // planes
        PutU16(out, 32);   // bits per pixel
        PutU32(out, images[i].size());
        PutU32(out, offset);
        offset += images[i].size();
    }
    for (const QByteArray& image : images) {
        out.append(image);
    }
    return out;
}

}  // namespace vexil

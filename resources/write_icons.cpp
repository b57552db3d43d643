// Turns the icon's XPM images into the files that install and Windows builds need: one PNG per
// size for the desktop's icon theme, and one ICO with both images at 4 bits per pixel.
//
//   ostrim_write_icons OUTPUT_DIR IMAGE.xpm...

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QList>
#include <QString>
#include <QtEndian>

namespace {

// The standard 16-colour palette, in the order Windows gives its indexes.
constexpr std::array<QRgb, 16> Palette {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
    0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF,
    0xFFFFFF};

std::optional<int> PaletteIndex(QRgb pixel)
{
    for (std::size_t index = 0; index < Palette.size(); ++index) {
        if ((pixel & 0xFFFFFF) == Palette[index])
            return static_cast<int>(index);
    }
    return std::nullopt;
}

bool IsTransparent(QRgb pixel)
{
    return qAlpha(pixel) == 0;
}

template<typename T>
void Append(QByteArray &bytes, T value)
{
    const T little = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char *>(&little), sizeof little);
}

int RowBytes(int bitsPerPixel, int width)
{
    return (bitsPerPixel * width + 31) / 32 * 4;
}

// One image as an ICO entry holds it: a bitmap header of twice the height, the palette, the
// colour pixels and the transparency mask, both bottom row first.
QByteArray IconImage(const QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    const int colourRow = RowBytes(4, width);
    const int maskRow = RowBytes(1, width);

    QByteArray bytes;
    Append<std::uint32_t>(bytes, 40);
    Append<std::int32_t>(bytes, width);
    Append<std::int32_t>(bytes, height * 2);
    Append<std::uint16_t>(bytes, 1); // planes
    Append<std::uint16_t>(bytes, 4); // bits per pixel
    Append<std::uint32_t>(bytes, 0); // no compression
    Append<std::uint32_t>(bytes, static_cast<std::uint32_t>((colourRow + maskRow) * height));
    Append<std::int32_t>(bytes, 0);
    Append<std::int32_t>(bytes, 0);
    Append<std::uint32_t>(bytes, static_cast<std::uint32_t>(Palette.size()));
    Append<std::uint32_t>(bytes, 0);
    for (QRgb colour : Palette) {
        bytes.append(static_cast<char>(qBlue(colour)));
        bytes.append(static_cast<char>(qGreen(colour)));
        bytes.append(static_cast<char>(qRed(colour)));
        bytes.append('\0');
    }
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(colourRow, '\0');
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = image.pixel(x, y);
            const int index = IsTransparent(pixel) ? 0 : *PaletteIndex(pixel);
            row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 ? index : index << 4));
        }
        bytes.append(row);
    }
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(maskRow, '\0');
        for (int x = 0; x < width; ++x) {
            if (IsTransparent(image.pixel(x, y)))
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        bytes.append(row);
    }
    return bytes;
}

QByteArray IconFile(const QList<QImage> &images)
{
    QByteArray header;
    Append<std::uint16_t>(header, 0);
    Append<std::uint16_t>(header, 1); // an icon, not a cursor
    Append<std::uint16_t>(header, static_cast<std::uint16_t>(images.size()));
    QByteArray data;
    auto offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const QImage &image : images) {
        const QByteArray entry = IconImage(image);
        header.append(static_cast<char>(image.width() % 256));
        header.append(static_cast<char>(image.height() % 256));
        header.append(static_cast<char>(Palette.size()));
        header.append('\0');
        Append<std::uint16_t>(header, 1);
        Append<std::uint16_t>(header, 4);
        Append<std::uint32_t>(header, static_cast<std::uint32_t>(entry.size()));
        Append<std::uint32_t>(header, offset);
        offset += static_cast<std::uint32_t>(entry.size());
        data.append(entry);
    }
    return header + data;
}

// Every pixel is either transparent or one of the 16 colours; anything else would be changed
// silently in the ICO, so it stops the build instead.
bool UsesOnlyThePalette(const QImage &image, const QString &path)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (!IsTransparent(pixel) && (qAlpha(pixel) != 255 || !PaletteIndex(pixel))) {
                std::fprintf(stderr, "%s: pixel %d,%d is not one of the 16 colours\n",
                    qPrintable(path), x, y);
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR IMAGE.xpm...\n", argv[0]);
        return 2;
    }
    const QString outputDir = QString::fromLocal8Bit(argv[1]);
    QList<QImage> images;
    for (int arg = 2; arg < argc; ++arg) {
        const QString path = QString::fromLocal8Bit(argv[arg]);
        const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) {
            std::fprintf(stderr, "%s: cannot read the image\n", qPrintable(path));
            return 1;
        }
        if (!UsesOnlyThePalette(image, path))
            return 1;
        const QString png = QStringLiteral("%1/ostrim-%2.png").arg(outputDir).arg(image.width());
        if (!image.save(png, "PNG")) {
            std::fprintf(stderr, "%s: cannot write\n", qPrintable(png));
            return 1;
        }
        images.append(image);
    }
    QFile ico(outputDir + QStringLiteral("/ostrim.ico"));
    if (!ico.open(QIODevice::WriteOnly) || ico.write(IconFile(images)) < 0) {
        std::fprintf(stderr, "%s: cannot write\n", qPrintable(ico.fileName()));
        return 1;
    }
    return 0;
}

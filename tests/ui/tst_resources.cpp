#include "ostrim_version.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/frm_main.h"

#include <algorithm>
#include <array>

#include <QApplication>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTest>

using namespace ostrim;

namespace {

constexpr std::array<QRgb, 16> StandardPalette {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
    0x800080, 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF,
    0x00FFFF, 0xFFFFFF};
constexpr QRgb Black = 0x000000;
constexpr QRgb LightGrey = 0xC0C0C0;
constexpr QRgb DarkGrey = 0x808080;
constexpr QRgb White = 0xFFFFFF;
constexpr QRgb Red = 0xFF0000;

QImage IconImage(int size)
{
    return AppIconImage(size).convertToFormat(QImage::Format_ARGB32);
}

// Shared objects mapped into this process whose path contains the text.
QStringList LoadedLibraries(const QString &pathPart)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read /proc/self/maps")};
    QStringList found;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (line.contains(pathPart.toUtf8()))
            found.append(QString::fromUtf8(line.mid(line.indexOf('/'))));
    }
    found.removeDuplicates();
    return found;
}

bool Transparent(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) == 0;
}

QRgb Colour(const QImage &image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

QList<QRgb> ColumnColours(const QImage &image, int x)
{
    QList<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        colours.append(Transparent(image, x, y) ? 0xFF000000 : Colour(image, x, y));
    return colours;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { AppIcon(); }
    // First, before any test here reads an image file and so loads the plugins.
    void startingTheWindowLoadsNoImagePlugin();
    void iconHasBothSizes();
    void iconImage_data();
    void iconImage();
    void iconFiles_data();
    void iconFiles();
    void scalableIcon_data();
    void scalableIcon();
    void versionShownAsMajorDotTwoDigits();
};

// Each image-format plugin costs start-up time and memory, and the window needs none of them.
void TestResources::startingTheWindowLoadsNoImagePlugin()
{
    QApplication::setWindowIcon(AppIcon());
    FrmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList plugins = LoadedLibraries(QStringLiteral("/imageformats/"));
    QVERIFY2(plugins.isEmpty(), qPrintable(plugins.join(u' ')));
}

void TestResources::iconHasBothSizes()
{
    const QIcon icon = AppIcon();
    QCOMPARE(icon.availableSizes().size(), 2);
    for (const int size : {32, 16}) {
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        QCOMPARE(
            icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32), IconImage(size));
    }
}

void TestResources::iconImage_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("32 by 32") << 32;
    QTest::newRow("16 by 16") << 16;
}

// The drawing as described: a bar across the top edge, a wire down the middle to the bottom edge
// through a white box with a dark-grey strip and a red arrow, and nothing else.
void TestResources::iconImage()
{
    QFETCH(int, size);
    const QImage image = IconImage(size);
    QCOMPARE(image.size(), QSize(size, size));

    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (Transparent(image, x, y))
                continue;
            QCOMPARE(qAlpha(image.pixel(x, y)), 255);
            QVERIFY2(
                std::ranges::find(StandardPalette, Colour(image, x, y)) != StandardPalette.end(),
                qPrintable(QStringLiteral("pixel %1,%2 off the palette").arg(x).arg(y)));
        }
    }

    // The bar: black along the top edge, light grey inside.
    for (int x = 0; x < size; ++x)
        QCOMPARE(Colour(image, x, 0), Black);
    QCOMPARE(Colour(image, size / 2, 1), LightGrey);

    // Beside the wire, below the bar, the corners are transparent; the wire reaches the bottom.
    QVERIFY(Transparent(image, 0, size - 1) && Transparent(image, size - 1, size - 1));
    QVERIFY(Transparent(image, 0, size / 2) && Transparent(image, size - 1, size / 2));
    QCOMPARE(Colour(image, size / 2, size - 1), LightGrey);

    // Down the middle: grey wire, the box (white, dark-grey strip, red arrow), grey wire again.
    const QList<QRgb> middle = ColumnColours(image, size / 2);
    const auto first = [&](QRgb colour) { return middle.indexOf(colour); };
    QVERIFY(first(White) > 0 && first(DarkGrey) > first(White) && first(Red) > first(DarkGrey));
    QCOMPARE(middle.count(0xFF000000), 0);

    // The arrow points up: its rows widen from its tip downwards.
    int tip = -1;
    for (int y = 0; y < size && tip < 0; ++y) {
        if (Colour(image, size / 2, y) == Red)
            tip = y;
    }
    const auto redWidth = [&](int y) {
        int width = 0;
        for (int x = 0; x < size; ++x)
            width += !Transparent(image, x, y) && Colour(image, x, y) == Red;
        return width;
    };
    QVERIFY(redWidth(tip) < redWidth(tip + 1));

    // The box's upper part is wider than its lower part.
    const auto opaqueWidth = [&](int y) {
        int width = 0;
        for (int x = 0; x < size; ++x)
            width += !Transparent(image, x, y);
        return width;
    };
    QVERIFY(opaqueWidth(first(White)) > opaqueWidth(tip));
}

void TestResources::iconFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("image");
    QTest::addColumn<int>("size");
    QTest::newRow("the Windows icon's first image is 32 by 32") << "ostrim.ico" << 0 << 32;
    QTest::newRow("the Windows icon's second image is 16 by 16") << "ostrim.ico" << 1 << 16;
    QTest::newRow("the desktop's 32 by 32 icon") << "ostrim-32.png" << 0 << 32;
    QTest::newRow("the desktop's 16 by 16 icon") << "ostrim-16.png" << 0 << 16;
}

// The installed and the Windows icon files hold the window icon's images, pixel for pixel.
void TestResources::iconFiles()
{
    QFETCH(QString, file);
    QFETCH(int, image);
    QFETCH(int, size);
    QImageReader reader(QStringLiteral(OSTRIM_ICON_DIR "/") + file);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    if (file.endsWith(QStringLiteral(".ico")))
        QCOMPARE(reader.imageCount(), 2);
    for (int skipped = 0; skipped < image; ++skipped)
        QVERIFY(reader.jumpToNextImage());
    QImage read = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!read.isNull(), qPrintable(reader.errorString()));
    // A PNG says its colours are sRGB, which the images read from the design leave unsaid.
    read.setColorSpace(QColorSpace());
    QCOMPARE(read, IconImage(size));
}

void TestResources::scalableIcon_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("32: pixel for pixel the 32-pixel image") << 32;
    QTest::newRow("64: each pixel of it doubled") << 64;
    QTest::newRow("256: each pixel of it eight times over") << 256;
}

// The desktop's scalable icon is the window icon's design, not a drawing of its own.
void TestResources::scalableIcon()
{
    QFETCH(int, size);
    QSvgRenderer renderer(QStringLiteral(OSTRIM_SVG_FILE));
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.viewBox(), QRect(0, 0, 32, 32));

    QImage rendered(size, size, QImage::Format_ARGB32);
    rendered.fill(Qt::transparent);
    QPainter painter(&rendered);
    renderer.render(&painter);
    painter.end();

    const QImage expected
        = IconImage(32).scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool bothTransparent = Transparent(rendered, x, y) && Transparent(expected, x, y);
            QVERIFY2(bothTransparent || rendered.pixel(x, y) == expected.pixel(x, y),
                qPrintable(QStringLiteral("pixel %1,%2: %3 instead of %4")
                               .arg(x)
                               .arg(y)
                               .arg(rendered.pixel(x, y), 8, 16)
                               .arg(expected.pixel(x, y), 8, 16)));
        }
    }
}

void TestResources::versionShownAsMajorDotTwoDigits()
{
    const QString shown = QString::fromLatin1(VersionText);
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]+\\.[0-9][0-9]$")).match(shown).hasMatch(),
        qPrintable(shown));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"

#include "ui/qt/window_scale.h"

#include <vector>

#include <QTest>

using namespace ostrim;

Q_DECLARE_METATYPE(std::vector<ostrim::CaptionRoom>)

namespace {

// Rooms as the window has them: a check box, the "Address" label's room up to the right margin,
// and the button.
constexpr TwipRect OutputBox {120, 120, 1125, 255};
constexpr TwipRect AddressRoom {720, 1560, 525, 240};
constexpr TwipRect Button {120, 2160, 1125, 375};

} // namespace

class TestWindowScale : public QObject
{
    Q_OBJECT

private slots:
    void pixelsOfTheDesign_data();
    void pixelsOfTheDesign();
    void scaleToFit_data();
    void scaleToFit();
};

void TestWindowScale::pixelsOfTheDesign_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QRect>("outputBox");
    QTest::addColumn<QRect>("addressRoom");

    QTest::newRow("1: 15 twips to the pixel")
        << 1.0 << QRect(8, 8, 75, 17) << QRect(48, 104, 35, 16);
    QTest::newRow("2: every length doubled")
        << 2.0 << QRect(16, 16, 150, 34) << QRect(96, 208, 70, 32);
    // Edges are rounded where they lie: both end at 83 * 1.45 = 120.35 -> 120, so the box is
    // 108 wide, not 75 * 1.45 = 108.75 -> 109, and the margin stays whole.
    QTest::newRow("1.45: edges rounded, not sizes")
        << 1.45 << QRect(12, 12, 108, 24) << QRect(70, 151, 50, 23);
}

void TestWindowScale::pixelsOfTheDesign()
{
    QFETCH(double, scale);
    QFETCH(QRect, outputBox);
    QFETCH(QRect, addressRoom);

    QCOMPARE(ToPixels(OutputBox, scale), outputBox);
    QCOMPARE(ToPixels(AddressRoom, scale), addressRoom);
}

void TestWindowScale::scaleToFit_data()
{
    QTest::addColumn<std::vector<CaptionRoom>>("captions");
    QTest::addColumn<double>("about"); // need over room of the neediest caption

    QTest::newRow("all fit at 15 twips to the pixel -> 1")
        << std::vector<CaptionRoom> {{OutputBox, {60, 15}}, {AddressRoom, {30, 13}}} << 1.0;
    QTest::newRow("needs exactly the room -> 1")
        << std::vector<CaptionRoom> {{OutputBox, {75, 17}}, {AddressRoom, {35, 16}}} << 1.0;
    QTest::newRow("nothing to fit -> 1") << std::vector<CaptionRoom> {} << 1.0;
    QTest::newRow("label 50 of 35 pixels -> about 50/35")
        << std::vector<CaptionRoom> {{OutputBox, {70, 17}}, {AddressRoom, {50, 14}}} << 50.0 / 35;
    QTest::newRow("height decides: 34 of 17 pixels -> about 2")
        << std::vector<CaptionRoom> {{OutputBox, {40, 34}}} << 2.0;
    QTest::newRow("the neediest caption wins, wherever it is") << std::vector<CaptionRoom> {
        {AddressRoom, {40, 14}}, {Button, {160, 26}},
        {OutputBox, {80, 17}}} << 160.0 / 75;
    QTest::newRow("one pixel over -> just over 1")
        << std::vector<CaptionRoom> {{OutputBox, {76, 17}}} << 76.0 / 75;
}

void TestWindowScale::scaleToFit()
{
    QFETCH(std::vector<CaptionRoom>, captions);
    QFETCH(double, about);

    const double scale = ScaleToFit(captions);
    const QString shown = QString::number(scale);

    for (const CaptionRoom &caption : captions)
        QVERIFY2(Fits(caption, scale), qPrintable(shown));
    if (about == 1.0) {
        QCOMPARE(scale, 1.0);
        return;
    }
    QVERIFY2(scale > 1.0, qPrintable(shown));
    // Rounded edges may lend a room a pixel, so the scale lies within a pixel of the exact ratio.
    QVERIFY2(qAbs(scale - about) <= 1.0 / 17, qPrintable(shown));
    // And it is the least: a hundredth less leaves some caption short of room.
    const bool allFitAtLess = std::all_of(captions.begin(), captions.end(),
        [&](const CaptionRoom &caption) { return Fits(caption, scale - 0.01); });
    QVERIFY2(!allFitAtLess, qPrintable(shown));
}

QTEST_APPLESS_MAIN(TestWindowScale)
#include "tst_window_scale.moc"

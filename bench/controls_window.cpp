// The fair peer for start-up: a plain window with the same nine controls as ostrim, with the same
// captions, in the same places, at the same size, and nothing behind them. Given ostrim's window
// size (WIDTHxHEIGHT, as startup_probe reports it), it places the controls on the same design at
// the scale that size implies; ostrim works that scale out from its captions instead.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace {

// The design in pixels at 96 dots per inch.
constexpr QSize DesignSize {91, 174};

QRect Scaled(const QRect &design, double scale)
{
    const auto edge = [scale](int pixels) { return qRound(pixels * scale); };
    return QRect(QPoint(edge(design.left()), edge(design.top())),
        QPoint(edge(design.left() + design.width()), edge(design.top() + design.height()))
            - QPoint(1, 1));
}

QSize SizeArgument(const QStringList &arguments)
{
    const QStringList size = arguments.value(1).split(QLatin1Char('x'));
    const int width = size.value(0).toInt();
    const int height = size.value(1).toInt();
    return size.size() == 2 && width > 0 && height > 0 ? QSize(width, height) : DesignSize;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QSize size = SizeArgument(QApplication::arguments());
    const double scale = static_cast<double>(size.width()) / DesignSize.width();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Controls"));
    for (int index = 0; index < 4; ++index) {
        auto *box = new QCheckBox(QStringLiteral("Output %1").arg(index + 1), &window);
        box->setGeometry(Scaled(QRect(8, 8 + 24 * index, 75, 17), scale));
    }
    auto *portLabel = new QLabel(QStringLiteral("Port"), &window);
    portLabel->move(Scaled(QRect(8, 104, 19, 13), scale).topLeft());
    auto *addressLabel = new QLabel(QStringLiteral("Address"), &window);
    addressLabel->move(Scaled(QRect(48, 104, 38, 13), scale).topLeft());
    (new QLineEdit(&window))->setGeometry(Scaled(QRect(8, 120, 35, 19), scale));
    (new QLineEdit(&window))->setGeometry(Scaled(QRect(48, 120, 35, 19), scale));
    (new QPushButton(QStringLiteral("&Set Outputs"), &window))
        ->setGeometry(Scaled(QRect(8, 144, 75, 25), scale));
    window.setFixedSize(size);
    window.show();
    return application.exec();
}

#include "widgets/ALed.h"

#include <QSet>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int waitMs = 20000;
const QRgb pureGreen = qRgb(0, 255, 0);
const TLEDStyle allStyles[] = {LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal};

// Pixels of the area connected to `start` that have its colour.
std::vector<QPoint> connectedArea(const QImage& image, QPoint start)
{
    const QRgb colour = image.pixel(start);
    std::vector<QPoint> area{start}, todo{start};
    QImage seen(image.size(), QImage::Format_Mono);
    seen.fill(0);
    seen.setPixel(start, 1);
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        for (QPoint n : {QPoint(p.x() + 1, p.y()), QPoint(p.x() - 1, p.y()), QPoint(p.x(), p.y() + 1), QPoint(p.x(), p.y() - 1)}) {
            if (image.valid(n) && !seen.pixelIndex(n) && image.pixel(n) == colour) {
                seen.setPixel(n, 1);
                area.push_back(n);
                todo.push_back(n);
            }
        }
    }
    return area;
}

QRgb shownCentre(TALed& led)
{
    const QImage shot = led.grab().toImage();
    return shot.pixel(shot.width() / 2, shot.height() / 2) | 0xFF000000u;
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

TEST(LedTemplates, SizesColoursAndOneConnectedLensAtTheCentre)
{
    const QSize sizes[] = {{16, 16}, {22, 22}, {16, 16}, {22, 22}, {14, 22}, {22, 14}};
    const QSize lenses[] = {{8, 8}, {14, 14}, {8, 8}, {14, 14}, {6, 14}, {14, 6}};
    const QSet<QRgb> allowed{qRgb(255, 255, 255), qRgb(128, 128, 128), qRgb(192, 192, 192), qRgb(0, 0, 0), pureGreen};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(ledTemplateName(allStyles[i]));
        const QImage t = ledTemplate(allStyles[i]);
        ASSERT_EQ(t.size(), sizes[i]);
        EXPECT_EQ(ledStyleSize(allStyles[i]), sizes[i]);
        int greens = 0;
        QRect lensBox;
        for (int y = 0; y < t.height(); ++y)
            for (int x = 0; x < t.width(); ++x) {
                const QRgb c = t.pixel(x, y) | 0xFF000000u;
                EXPECT_TRUE(allowed.contains(c)) << x << "," << y;
                if (c == pureGreen) {
                    ++greens;
                    lensBox |= QRect(x, y, 1, 1);
                }
            }
        const QPoint centre(t.width() / 2, t.height() / 2);
        ASSERT_EQ(t.pixel(centre) | 0xFF000000u, pureGreen);
        EXPECT_EQ(int(connectedArea(t, centre).size()), greens);
        EXPECT_EQ(lensBox.size(), lenses[i]);
        // Raised bezel: light from the top left.
        EXPECT_EQ(t.pixel(1, 0) | 0xFF000000u, qRgb(255, 255, 255));
        EXPECT_EQ(t.pixel(0, 1) | 0xFF000000u, qRgb(255, 255, 255));
        EXPECT_EQ(t.pixel(t.width() - 1, 1) | 0xFF000000u, qRgb(128, 128, 128));
        EXPECT_EQ(t.pixel(1, t.height() - 1) | 0xFF000000u, qRgb(128, 128, 128));
    }
    EXPECT_STREQ(ledTemplateName(LEDSqLarge), "ALEDSQLG");
    EXPECT_TRUE(ledTemplate(static_cast<TLEDStyle>(6)).isNull());
}

TEST(Led, ImagesRecolourOnlyTheLens)
{
    for (TLEDStyle style : allStyles) {
        SCOPED_TRACE(ledTemplateName(style));
        TALed led;
        led.setLEDStyle(style);
        led.setTrueColor(clRed);
        const QImage t = ledTemplate(style);
        ASSERT_EQ(led.OnImage().size(), t.size());
        for (int y = 0; y < t.height(); ++y)
            for (int x = 0; x < t.width(); ++x) {
                const bool lens = (t.pixel(x, y) | 0xFF000000u) == pureGreen;
                EXPECT_EQ(led.OnImage().pixel(x, y), lens ? clRed.rgb() : t.pixel(x, y)) << x << "," << y;
                EXPECT_EQ(led.OffImage().pixel(x, y), lens ? clSilver.rgb() : t.pixel(x, y)) << x << "," << y;
            }
    }
    // The lens's own colour leaves the template as it is.
    TALed lime;
    EXPECT_EQ(lime.OnImage(), ledTemplate(LEDSmall));
}

TEST(Led, ConstructedOffAndWithDefaults)
{
    TALed led;
    EXPECT_EQ(led.size(), QSize(16, 16));
    EXPECT_EQ(led.TrueColor(), clLime);
    EXPECT_EQ(led.FalseColor(), clSilver);
    EXPECT_TRUE(led.Blink());
    EXPECT_FALSE(led.Value());
    EXPECT_EQ(led.Interval(), 1000);
    EXPECT_EQ(led.LEDStyle(), LEDSmall);
    EXPECT_EQ(led.CurrentImage(), 1);
    EXPECT_EQ(led.BlinkTimer(), nullptr);
    EXPECT_EQ(shownCentre(led), clSilver.rgb());
    EXPECT_EQ(colorFromValue(255), clRed);
    EXPECT_EQ(colorFromValue(0x8000), clGreen);
}

TEST(Led, LinkColoursShowAtOnceAndSameColourDoesNothing)
{
    QWidget window;
    window.resize(700, 300);
    auto* led = new TALed(&window);
    led->move(644, 168);
    led->setTrueColor(clRed);
    led->setFalseColor(clGreen);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    led->installEventFilter(&counter);

    led->setFalseColor(clGreen);
    EXPECT_EQ(counter.paints, 0);

    led->setFalseColor(clRed); // an exchange starts
    EXPECT_GE(counter.paints, 1); // painted now, not at some later turn of the loop
    EXPECT_EQ(shownCentre(*led), clRed.rgb());
    led->setFalseColor(clGreen);
    EXPECT_EQ(shownCentre(*led), clGreen.rgb());

    // A new on-colour rebuilds the images but the lamp stays off.
    led->setTrueColor(clSilver);
    EXPECT_EQ(led->CurrentImage(), 1);
    EXPECT_EQ(shownCentre(*led), clGreen.rgb());
    EXPECT_EQ(led->geometry(), QRect(644, 168, 16, 16));
}

TEST(Led, BlinksFromTheOnImageAndStopsWhenSwitchedOff)
{
    TALed led;
    led.setInterval(10);
    EXPECT_EQ(led.BlinkTimer(), nullptr); // Blink alone starts nothing

    std::vector<int> phases;
    QObject* sender = nullptr;
    led.OnTimer = [&](QObject& s) {
        sender = &s;
        phases.push_back(led.CurrentImage());
    };
    led.setValue(true);
    ASSERT_NE(led.BlinkTimer(), nullptr);
    EXPECT_EQ(led.CurrentImage(), 0);
    EXPECT_EQ(led.BlinkTimer()->interval(), 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return phases.size() >= 3; }, waitMs));
    EXPECT_EQ(sender, led.BlinkTimer());
    EXPECT_EQ(phases[0], 1);
    EXPECT_EQ(phases[1], 0);
    EXPECT_EQ(phases[2], 1);

    // A colour write restarts the phase with the on image.
    ASSERT_TRUE(QTest::qWaitFor([&] { return led.CurrentImage() == 1; }, waitMs));
    led.setTrueColor(clRed);
    EXPECT_EQ(led.CurrentImage(), 0);
    EXPECT_NE(led.BlinkTimer(), nullptr);
    EXPECT_TRUE(led.Blink());

    led.setInterval(25);
    EXPECT_EQ(led.BlinkTimer()->interval(), 25);

    led.setValue(false);
    EXPECT_EQ(led.BlinkTimer(), nullptr);
    EXPECT_EQ(led.CurrentImage(), 1);

    // Steady on without blinking.
    led.setBlink(false);
    led.setValue(true);
    EXPECT_EQ(led.BlinkTimer(), nullptr);
    EXPECT_EQ(led.CurrentImage(), 0);
    EXPECT_EQ(shownCentre(led), clRed.rgb());
    led.setBlink(true);
    EXPECT_NE(led.BlinkTimer(), nullptr);
}

TEST(Led, StyleSetsTheSizeAgain)
{
    TALed led;
    led.resize(40, 40);
    led.setLEDStyle(LEDVertical);
    EXPECT_EQ(led.size(), QSize(14, 22));
    led.resize(40, 40);
    led.setFalseColor(clRed);
    EXPECT_EQ(led.size(), QSize(14, 22));
    led.setLEDStyle(LEDHorizontal);
    EXPECT_EQ(led.size(), QSize(22, 14));
}

TEST(Led, MouseEnterAndLeaveReachTheHandlers)
{
    TALed led;
    int enters = 0, leaves = 0;
    led.OnMouseEnter = [&](TALed& s) { enters += &s == &led; };
    led.OnMouseLeave = [&](TALed& s) { leaves += &s == &led; };
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&led, &enter);
    QCoreApplication::sendEvent(&led, &leave);
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(leaves, 1);
}

TEST(ALedDescription, FollowsTheColourTheLampShows)
{
    TALed led;
    led.setTrueColor(clRed);
    led.setFalseColor(clGreen);
    led.setColorDescription(clRed, QStringLiteral("occupato"));
    led.setColorDescription(clGreen, QStringLiteral("libero"));
    EXPECT_EQ(led.accessibleDescription(), QStringLiteral("libero"));
    led.setFalseColor(clRed);
    EXPECT_EQ(led.accessibleDescription(), QStringLiteral("occupato"));
    led.setFalseColor(clSilver);
    EXPECT_EQ(led.accessibleDescription(), QString()) << "a colour without a meaning says nothing";
    // A lit, blinking lamp is described by its on colour whatever phase it is in.
    led.setValue(true);
    EXPECT_EQ(led.accessibleDescription(), QStringLiteral("occupato"));
    led.setValue(false);
    led.setColorDescription(clSilver, QStringLiteral("spento"));
    EXPECT_EQ(led.accessibleDescription(), QStringLiteral("spento"));
}

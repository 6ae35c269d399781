#pragma once

// A small lamp: the style's template with its lens in TrueColor (on) or FalseColor (off),
// optionally blinking between the two on a timer.

#include <QColor>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QTimer;

enum TLEDStyle : std::uint8_t { LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal };

// The toolkit's named colours the program uses.
inline const QColor clRed{255, 0, 0};      // 255
inline const QColor clGreen{0, 128, 0};    // 0x8000
inline const QColor clLime{0, 255, 0};
inline const QColor clSilver{192, 192, 192};

// A colour given as the toolkit's 32-bit value 0x00BBGGRR.
QColor colorFromValue(std::uint32_t value);

// The template of a style ("ALEDSM", ...) and its size; an unknown style gives a null image.
QImage ledTemplate(TLEDStyle style);
const char* ledTemplateName(TLEDStyle style);
QSize ledStyleSize(TLEDStyle style);

class TALed : public QWidget
{
public:
    explicit TALed(QWidget* parent = nullptr);
    ~TALed() override;

    QColor TrueColor() const { return fTrueColor; }
    void setTrueColor(const QColor& value);
    QColor FalseColor() const { return fFalseColor; }
    void setFalseColor(const QColor& value);
    bool Blink() const { return fBlink; }
    void setBlink(bool value);
    bool Value() const { return fValue; }
    void setValue(bool value);
    int Interval() const { return fInterval; }
    void setInterval(int value);
    TLEDStyle LEDStyle() const { return fLEDStyle; }
    void setLEDStyle(TLEDStyle value);

    // What a lens colour means to the operator. The lamp's accessible
    // description follows the colour it shows, so a screen reader tells what
    // the eye sees.
    void setColorDescription(const QColor& color, const QString& text);

    // The image being shown: 0 the on image, 1 the off image.
    int CurrentImage() const { return fCurrent; }
    const QImage& OnImage() const { return fOnImage; }
    const QImage& OffImage() const { return fOffImage; }
    // The blink timer, present only while blinking.
    QTimer* BlinkTimer() const { return fTimer; }

    std::function<void(QObject& sender)> OnTimer; // sender: the blink timer
    std::function<void(TALed& sender)> OnMouseEnter;
    std::function<void(TALed& sender)> OnMouseLeave;
    std::function<void(TALed& sender)> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setColor(QColor& field, const QColor& value);
    void LoadImages();
    void FreeImages();
    void ShowOn();
    void ShowOff();
    void StartBlink();
    void StopBlink();
    void BlinkTick();
    void describe();

    QImage fOnImage;
    QImage fOffImage;
    QTimer* fTimer = nullptr;
    QColor fTrueColor = clLime;
    QColor fFalseColor = clSilver;
    bool fBlink = true;
    TLEDStyle fLEDStyle = LEDSmall;
    int fInterval = 1000;
    bool fValue = false;
    int fCurrent = 1;
    bool fPressed = false;
    QList<QPair<QColor, QString>> fDescriptions;
};

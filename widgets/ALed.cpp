#include "widgets/ALed.h"

#include "widgets/ALedTemplates.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <vector>

namespace {

const QRgb lensColour = qRgb(0, 255, 0);

struct StyleInfo
{
    const char* name;
    const char* const* xpm;
    int width;
    int height;
};

const StyleInfo* styleInfo(TLEDStyle style)
{
    static const StyleInfo styles[] = {
        {"ALEDSM", aled_templates::ALEDSM, 16, 16},
        {"ALEDLG", aled_templates::ALEDLG, 22, 22},
        {"ALEDSQSM", aled_templates::ALEDSQSM, 16, 16},
        {"ALEDSQLG", aled_templates::ALEDSQLG, 22, 22},
        {"ALEDVT", aled_templates::ALEDVT, 14, 22},
        {"ALEDHZ", aled_templates::ALEDHZ, 22, 14},
    };
    const int i = static_cast<int>(style);
    return i >= 0 && i < int(sizeof styles / sizeof styles[0]) ? &styles[i] : nullptr;
}

// Fills every pixel connected to `start` that has exactly the lens colour (a fill by surface
// colour, not up to a border).
void floodFillLens(QImage& image, QPoint start, QRgb colour)
{
    colour |= 0xFF000000u;
    if (colour == lensColour || !image.valid(start) || image.pixel(start) != lensColour)
        return;
    std::vector<QPoint> todo{start};
    image.setPixel(start, colour);
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        const QPoint next[4] = {{p.x() + 1, p.y()}, {p.x() - 1, p.y()}, {p.x(), p.y() + 1}, {p.x(), p.y() - 1}};
        for (const QPoint& n : next) {
            if (image.valid(n) && image.pixel(n) == lensColour) {
                image.setPixel(n, colour);
                todo.push_back(n);
            }
        }
    }
}

} // namespace

QColor colorFromValue(std::uint32_t value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

QImage ledTemplate(TLEDStyle style)
{
    const StyleInfo* info = styleInfo(style);
    if (!info)
        return QImage();
    return QImage(info->xpm).convertToFormat(QImage::Format_RGB32);
}

const char* ledTemplateName(TLEDStyle style)
{
    const StyleInfo* info = styleInfo(style);
    return info ? info->name : "";
}

QSize ledStyleSize(TLEDStyle style)
{
    const StyleInfo* info = styleInfo(style);
    return info ? QSize(info->width, info->height) : QSize();
}

TALed::TALed(QWidget* parent) : QWidget(parent)
{
    resize(16, 16);
    LoadImages();
}

TALed::~TALed()
{
    StopBlink();
    FreeImages();
}

void TALed::setColor(QColor& field, const QColor& value)
{
    if (value == field)
        return;
    // Through the Blink writer, so a blinking lamp restarts its phase with the on image.
    const bool blink = fBlink;
    if (blink)
        setBlink(false);
    field = value;
    LoadImages();
    setBlink(blink);
    describe();
    repaint();
}

void TALed::setTrueColor(const QColor& value)
{
    setColor(fTrueColor, value);
}

void TALed::setFalseColor(const QColor& value)
{
    setColor(fFalseColor, value);
}

void TALed::setValue(bool value)
{
    if (value == fValue)
        return;
    fValue = value;
    describe();
    if (fValue) {
        ShowOn();
        if (fBlink)
            StartBlink();
    } else {
        StopBlink();
        ShowOff();
    }
}

void TALed::setColorDescription(const QColor& color, const QString& text)
{
    for (auto& entry : fDescriptions) {
        if (entry.first == color) {
            entry.second = text;
            describe();
            return;
        }
    }
    fDescriptions.append({ color, text });
    describe();
}

void TALed::describe()
{
    // A blinking lamp is described by what it is, not by the phase it is in.
    const QColor shown = fValue ? fTrueColor : fFalseColor;
    QString text;
    for (const auto& entry : fDescriptions) {
        if (entry.first == shown)
            text = entry.second;
    }
    if (text != accessibleDescription())
        setAccessibleDescription(text);
}

void TALed::setBlink(bool value)
{
    if (value == fBlink)
        return;
    if (fValue)
        ShowOn();
    else
        ShowOff();
    fBlink = value;
    if (fBlink && fValue)
        StartBlink();
    else
        StopBlink();
}

void TALed::setInterval(int value)
{
    fInterval = value;
    if (fTimer) {
        // A period of 0 or less stops the blinking rather than firing without pause.
        if (fInterval > 0)
            fTimer->start(fInterval);
        else
            fTimer->stop();
    }
}

void TALed::setLEDStyle(TLEDStyle value)
{
    if (value == fLEDStyle || !styleInfo(value))
        return;
    fLEDStyle = value;
    LoadImages();
    repaint();
}

void TALed::FreeImages()
{
    fOnImage = QImage();
    fOffImage = QImage();
}

void TALed::LoadImages()
{
    FreeImages();
    const QSize size = ledStyleSize(fLEDStyle);
    resize(size);
    fOnImage = ledTemplate(fLEDStyle);
    fOffImage = fOnImage.copy();
    const QPoint centre(size.width() / 2, size.height() / 2);
    floodFillLens(fOnImage, centre, fTrueColor.rgb());
    floodFillLens(fOffImage, centre, fFalseColor.rgb());
}

void TALed::ShowOn()
{
    fCurrent = 0;
    repaint();
}

void TALed::ShowOff()
{
    fCurrent = 1;
    repaint();
}

void TALed::StartBlink()
{
    if (fTimer)
        return;
    fCurrent = 0;
    fTimer = new QTimer(this);
    connect(fTimer, &QTimer::timeout, this, [this] { BlinkTick(); });
    if (fInterval > 0)
        fTimer->start(fInterval);
}

void TALed::StopBlink()
{
    delete fTimer;
    fTimer = nullptr;
}

void TALed::BlinkTick()
{
    fCurrent = fCurrent == 0 ? 1 : 0;
    repaint();
    if (OnTimer && fTimer) {
        auto handler = OnTimer;
        handler(*fTimer);
    }
}

void TALed::paintEvent(QPaintEvent*)
{
    const QImage& image = fCurrent == 0 ? fOnImage : fOffImage;
    if (image.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), image);
}

void TALed::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (OnMouseEnter) {
        auto handler = OnMouseEnter;
        handler(*this);
    }
}

void TALed::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (OnMouseLeave) {
        auto handler = OnMouseLeave;
        handler(*this);
    }
}

void TALed::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fPressed = true;
    QWidget::mousePressEvent(event);
}

void TALed::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = fPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        fPressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click && OnClick) {
        auto handler = OnClick;
        handler(*this);
    }
}

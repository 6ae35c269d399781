#pragma once

#include <QFont>
#include <QStringList>

// The windows' fonts, sized in pixels as the layout is. Liberation Sans keeps
// the narrow metrics the boxes are sized for; DejaVu Sans stands in where it
// is missing.
inline QFont pixelFont(int pixels, bool fixedPitch = false)
{
    QFont font;
    if (fixedPitch) {
        font.setFamilies({ QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono") });
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
    } else {
        font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(pixels);
    return font;
}

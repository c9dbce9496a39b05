// SPDX-License-Identifier: MIT
// The application's theme.

#include "theme.h"
#include "zelbinapp.h"

#include <QApplication>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>

#include <cmath>
#include <memory>

namespace
{
const QString KEY = QStringLiteral("Theme");

struct CPlatformLook
{
    bool bKnown = false;
    QString style;
    QPalette palette;
};
CPlatformLook& PlatformLook()
{
    static CPlatformLook look;
    return look;
}
ETheme g_eCurrent = ETheme::System;

double Luminance(const QColor& c)
{
    const auto channel = [](double v)
    { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
} // namespace

QString ThemeName(ETheme eTheme)
{
    switch (eTheme)
    {
    case ETheme::Light:
        return QStringLiteral("Light");
    case ETheme::Dark:
        return QStringLiteral("Dark");
    case ETheme::System:
        break;
    }
    return QStringLiteral("System");
}

ETheme LoadTheme()
{
    const QString name = Settings().value(KEY).toString();
    for (ETheme e : {ETheme::Light, ETheme::Dark})
        if (name == ThemeName(e))
            return e;
    return ETheme::System;
}

void SaveTheme(ETheme eTheme)
{
    Settings().setValue(KEY, ThemeName(eTheme));
}

QPalette LightPalette()
{
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

// Fusion's dark tones: text well above 4.5:1 on every background it is drawn on.
QPalette DarkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 30), text(230, 230, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 42));
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, QColor(160, 160, 160));
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 110, 110));
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(58, 58, 62));
    p.setColor(QPalette::Mid, QColor(38, 38, 40));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(42, 110, 190));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(110, 170, 255));
    p.setColor(QPalette::LinkVisited, QColor(190, 150, 255));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    return p;
}

void ApplyTheme(ETheme eTheme)
{
    CPlatformLook& look = PlatformLook();
    if (!look.bKnown)
    {
        look.bKnown = true;
        look.style = QApplication::style()->name();
        look.palette = QApplication::palette();
    }
    g_eCurrent = eTheme;
    if (eTheme == ETheme::System)
    {
        QApplication::setStyle(look.style);
        QApplication::setPalette(look.palette);
        return;
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(eTheme == ETheme::Dark ? DarkPalette() : LightPalette());
}

ETheme CurrentTheme()
{
    return g_eCurrent;
}

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

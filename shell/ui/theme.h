// SPDX-License-Identifier: MIT
// View > Theme: the desktop's own look (System), or Fusion with a light or a dark palette for
// desktops whose platform gives the program no dark look of its own. The choice is kept in the
// settings and applied to the whole application at start.
#pragma once

#include <QPalette>
#include <QString>

enum class ETheme
{
    System,
    Light,
    Dark,
};

// "System", "Light", "Dark": the names in the settings and in the menu (without mnemonics).
QString ThemeName(ETheme eTheme);
// The kept choice; System when none was kept or the value is not a theme's name.
ETheme LoadTheme();
void SaveTheme(ETheme eTheme);
// Applies the theme to the application; the first call remembers the platform's own style and
// palette, which System brings back.
void ApplyTheme(ETheme eTheme);
ETheme CurrentTheme();
// The palettes that Light and Dark use.
QPalette LightPalette();
QPalette DarkPalette();
// WCAG's contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

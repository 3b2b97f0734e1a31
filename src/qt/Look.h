// The program's font, and its pictures (drawn once for both skins, in
// src/ui/Pictures.cpp) as Qt's pixmaps and icons: the button pictures with
// their disabled versions, the two LED lamps and the window icon.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>

#include "Layout.h"

// "MS Sans Serif" where the system has it, otherwise its sans-serif font, at
// a height of pixelSize pixels.
QFont ProgramFont(int pixelSize);

// The picture a button shows while it is enabled.
QPixmap ButtonPicture(Picture picture);
// The picture a button shows while it is disabled: the same shape, grey and
// flat, with a light edge below and to the right.
QPixmap DisabledPicture(const QPixmap& normal);
// Both pictures, the second one for the disabled mode.
QIcon ButtonIcon(Picture picture);

// The LED lamp: a dark green lamp when off, a bright green one when lit.
QPixmap LampPicture(bool lit);

// The program's window icon.
QIcon ProgramIcon();

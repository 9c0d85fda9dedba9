#pragma once

#include <QIcon>
#include <QImage>

// The sizes the icon is drawn at, for the windows and for the desktop's icon theme.
inline constexpr int IconSizes[] = {16, 32, 48};

// The program's icon, drawn at the given size in pixels.
QImage appIconImage(int size);
// The window icon, at every size of IconSizes.
QIcon appIcon();

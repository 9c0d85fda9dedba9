#pragma once

#include <QIcon>

// The program's icon: a survey disk with its triangle, at 16 and 32 pixels.
QIcon appIcon();

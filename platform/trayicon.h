#pragma once

#include <QIcon>

// The "zR" square of the tray and the application icon, drawn for every common size.
QIcon zapRunIcon();

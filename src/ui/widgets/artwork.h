#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>

// The program's pictures, drawn in code so that they stay sharp at every size and need no image
// plug-in. Identifiers are the resource numbers the rest of the program uses.
namespace tn::ui::art {

// 128: the window icon.
QIcon appIcon();
// 134 idle, 135 sending, 136 receiving, 137 both: the tray states.
QIcon trayIcon(int id);
QPixmap trayPixmap(int id, int size);
// 131 normal, 141 alert: the 48 x 48 status pictures.
QPixmap statusBitmap(int id);
// 149: the remember-adapter pin.
QIcon rememberIcon();
// The main window's background.
QPixmap dialogBackground(QSize size);
// A secondary window's background in shades of its base colour.
QPixmap dialogBackground(QSize size, const QColor& base);

} // namespace tn::ui::art

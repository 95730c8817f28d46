#pragma once
// How the desktop host looks and speaks: Qt's own texts in Brazilian Portuguese, and the font,
// colours and icons the screen's layout was drawn for.
#include <QIcon>
#include <QString>

class QApplication;

namespace acerto::gui {

// Loads Qt's Portuguese translations (the buttons and menus Qt draws itself). False when the
// translation files are missing; the host's own dialogs are worded in Portuguese regardless.
bool install_portuguese(QApplication& app);

// The font whose metrics the layout's pixel sizes assume, a style drawn the same everywhere, a
// focus no one can miss, and the icon theme of the toolbar.
void apply_look(QApplication& app);

// A toolbar or dialog icon by the control that shows it (an empty icon for one without).
QIcon icon_for(const QString& control_name);

}  // namespace acerto::gui

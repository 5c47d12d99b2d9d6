#pragma once

// The controls of the main window as it is drawn.

class QWidget;

namespace corvald {

// Adds the main window's controls, in tab order: the map list "cmbMapList",
// which has the focus, the count label "Label", the buttons "cmdButton1" and
// "cmdButton2", which run the two commands, and the hidden file list
// "FileList". Each sits at its place with its font and colours; the list and
// the label start empty and with their stored text.
void AddMainControls(QWidget& window);

}  // namespace corvald

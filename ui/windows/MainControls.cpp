// The main window's controls: where they sit, how they look, and what the
// buttons run.
#include "ui/windows/MainControls.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include "app/ErrorReport.h"
#include "platform/Fonts.h"
#include "ui/commands/Commands.h"

namespace corvald {

namespace {

constexpr QColor kListBackColour(31, 35, 46);
constexpr QColor kTextColour(194, 173, 154);
constexpr double kFontPoints = 8.25;

constexpr QRect kMapListGeometry(8, 24, 257, 21);
constexpr QRect kLabelGeometry(8, 8, 257, 17);
constexpr QRect kButton1Geometry(8, 56, 257, 17);
constexpr QRect kButton2Geometry(8, 80, 257, 17);
constexpr QRect kFileListGeometry(0, 0, 23, 19);

// Gives a control its place, name and font.
void Place(QWidget& control, const char* name, const QRect& geometry, bool bold) {
  control.setObjectName(QLatin1StringView(name));
  control.setGeometry(geometry);
  control.setFont(PixelFont("Tahoma", kFontPoints, bold));
}

// The list's field and its drop-down share the window's dark colours; the
// drop-down button keeps the system look. A style sheet does this because the
// system style shades a plain palette colour into a gradient.
QComboBox* AddMapList(QWidget& window) {
  auto* list = new QComboBox(&window);
  Place(*list, "cmbMapList", kMapListGeometry, false);
  list->setEditable(false);
  const QString colours =
      QStringLiteral("background-color: %1; color: %2;").arg(kListBackColour.name(), kTextColour.name());
  list->setStyleSheet(QStringLiteral("QComboBox { %1 border: 1px solid palette(dark); padding-left: 2px; }"
                                     " QComboBox QAbstractItemView { %1 }")
                          .arg(colours));
  return list;
}

void AddCountLabel(QWidget& window) {
  auto* label = new QLabel(QStringLiteral("Number of maps found:"), &window);
  Place(*label, "Label", kLabelGeometry, true);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setAutoFillBackground(false);
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, kTextColour);
  label->setPalette(colours);
}

// A push button that Enter never presses unless it has the focus.
void AddButton(QWidget& window, const char* name, const QRect& geometry, const QString& caption,
               bool (*onClick)()) {
  auto* button = new QPushButton(caption, &window);
  Place(*button, name, geometry, false);
  button->setAutoDefault(false);
  button->setDefault(false);
  QObject::connect(button, &QPushButton::clicked, [onClick] { Guarded(onClick); });
}

void AddFileList(QWidget& window) {
  auto* files = new QListWidget(&window);
  Place(*files, "FileList", kFileListGeometry, false);
  files->setFocusPolicy(Qt::NoFocus);
  files->hide();
}

}  // namespace

// The controls join the focus chain in the order they are made, which is
// their tab order; the first one that can take the focus gets it.
void AddMainControls(QWidget& window) {
  QComboBox* list = AddMapList(window);
  AddCountLabel(window);
  AddButton(window, "cmdButton1", kButton1Geometry, QStringLiteral("Dump maps into seperate files"),
            cmdButton1_Click);
  AddButton(window, "cmdButton2", kButton2Geometry, QStringLiteral("Convert map files to database"),
            cmdButton2_Click);
  AddFileList(window);
  list->setFocus();
}

}  // namespace corvald

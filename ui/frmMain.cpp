#include "ui/frmMain.h"

#include <QCloseEvent>
#include <QPalette>
#include <QPointer>
#include <QWidget>

#include "app/modCorvald.h"
#include "ui/Art.h"
#include "ui/Centring.h"

namespace corvald {

namespace {

constexpr QSize kClientSize(274, 106);
constexpr QColor kBackColour(75, 81, 97);

QPointer<QWidget> mainWindow;
bool mainClosing = false;

// Closing the main window, by the user or by UnloadMain, ends the program; the
// close always goes ahead.
void Form_QueryUnload() {
  mainClosing = true;
  ShutDown();
}

class MainWindow : public QWidget {
 public:
  MainWindow()
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                             Qt::MSWindowsFixedSizeDialogHint) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    Form_QueryUnload();
    event->accept();
    mainWindow = nullptr;
    mainClosing = false;
  }
};

QWidget* LoadMainWindow() {
  auto* window = new MainWindow;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName(QStringLiteral("frmMain"));
  window->setWindowTitle(QStringLiteral("Corvald Converter"));
  window->setWindowIcon(ApplicationIcon());
  window->setFixedSize(kClientSize);
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, kBackColour);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  return window;
}

}  // namespace

void ShowMain() {
  if (!mainWindow) {
    mainWindow = LoadMainWindow();
    CentreOnScreen(*mainWindow);
  }
  mainWindow->show();
}

void UnloadMain() {
  if (mainWindow && !mainClosing) mainWindow->close();
}

QWidget* frmMain() { return mainClosing ? nullptr : mainWindow.data(); }

}  // namespace corvald

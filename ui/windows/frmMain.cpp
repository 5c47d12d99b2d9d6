// The main window: the row count of "Maps", the list of loaded maps, the two
// commands, and the hidden list of the files in "Maps" that the convert command
// works through.
#include "ui/windows/frmMain.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "app/modCorvald.h"
#include "platform/AnsiCodePage.h"
#include "store/modDatabase.h"
#include "ui/commands/MapListing.h"
#include "ui/windows/Art.h"
#include "ui/windows/Centring.h"
#include "ui/windows/MainControls.h"

namespace corvald {

namespace {

constexpr QSize kClientSize(274, 106);
constexpr QColor kBackColour(75, 81, 97);

class MainWindow;
QPointer<MainWindow> mainWindow;
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

  // The ANSI names behind the hidden file list's texts, for the convert
  // command, which reads them once per file.
  std::vector<std::string> fileNames;

 protected:
  void closeEvent(QCloseEvent* event) override {
    Form_QueryUnload();
    event->accept();
    mainWindow = nullptr;
    mainClosing = false;
  }
};

template <class Control>
Control* Find(const QWidget& window, const char* name) {
  return window.findChild<Control*>(QLatin1StringView(name));
}

// The window with its controls, before loading.
std::unique_ptr<MainWindow> MakeMainWindow() {
  auto window = std::make_unique<MainWindow>();
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName(QStringLiteral("frmMain"));
  window->setWindowTitle(QStringLiteral("Corvald Converter"));
  window->setWindowIcon(ApplicationIcon());
  window->setFixedSize(kClientSize);
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, kBackColour);
  window->setPalette(palette);
  window->setAutoFillBackground(true);

  AddMainControls(*window);
  return window;
}

void FillFileList(MainWindow& window, std::vector<std::string> names) {
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(names.size()));
  for (const std::string& name : names) texts.append(FromAnsi(name));
  Find<QListWidget>(window, "FileList")->addItems(texts);
  window.fileNames = std::move(names);
}

// Fills the window from the recordset and the map table and lists the files of
// "Maps", creating the folder when nothing of that name exists. Fails when the
// row count cannot be read or "Maps" cannot be created or listed (76 when it is
// a plain file).
void Form_Load(MainWindow& window) {
  Find<QLabel>(window, "Label")->setText(FromAnsi(MapCountText(ReadMapCount())));
  auto* list = Find<QComboBox>(window, "cmbMapList");
  list->clear();
  QStringList entries;
  for (const std::string& entry : MapListEntries()) entries.append(FromAnsi(entry));
  list->addItems(entries);
  if (list->count() > 0) list->setCurrentIndex(0);
  FillFileList(window, MapFolderFiles());
}

}  // namespace

void ShowMainWindow() {
  if (!mainWindow) {
    std::unique_ptr<MainWindow> window = MakeMainWindow();
    Form_Load(*window);
    mainWindow = window.release();
    CentreOnScreen(*mainWindow);
  }
  mainWindow->show();
}

void CloseMainWindow() {
  if (mainWindow && !mainClosing) mainWindow->close();
}

QWidget* frmMain() { return mainClosing ? nullptr : mainWindow.data(); }

const std::vector<std::string>& MainWindowFileList() {
  static const std::vector<std::string> kNone;
  return mainWindow && !mainClosing ? mainWindow->fileNames : kNone;
}

}  // namespace corvald

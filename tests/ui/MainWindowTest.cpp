// The main window on the offscreen platform, loaded from databases that the
// sqlcipher shell made: its look, the map list and count, the hidden file list
// of "Maps", its buttons, and how closing it ends the program through ShutDown.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <filesystem>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Fonts.h"
#include "store/modDatabase.h"
#include "store/modVariables.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"
#include "tests/ui/WindowChecks.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

// Texts in failure messages as text.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace corvald {
namespace {

namespace fs = std::filesystem;
using test::EventCounter;
using test::MapRow;

const QColor kBack(75, 81, 97);
const QColor kListBack(31, 35, 46);

// A row holding a map record whose first 30 characters are `name`, padded with
// blanks.
MapRow MapNamed(std::int64_t number, std::string name) {
  name.resize(MAP_NAME_LEN, ' ');
  return {number, CompressData(name + "tiles")};
}

template <class Control>
Control* Find(const char* name) {
  return frmMain() == nullptr ? nullptr : frmMain()->findChild<Control*>(QLatin1StringView(name));
}

QStringList Entries(const QComboBox& list) {
  QStringList entries;
  for (int i = 0; i < list.count(); ++i) entries.append(list.itemText(i));
  return entries;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFonts();
    MapList = MapTable{};
  }

  void TearDown() override {
    ShutDown();
    DeleteClosedWindows();
  }

  static void DeleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  // Loads a database with these rows as start-up does, the status window still
  // up, and shows the main window.
  static QWidget* Open(const std::vector<MapRow>& rows = {}) {
    std::remove("server.dat");
    test::MakeMapsDatabase("server.dat", test::kServerPassword, rows);
    test::MessageBoxRecorder boxes;
    if (!LoadServerDatabase()) return nullptr;
    ShowMain();
    return frmMain();
  }

  test::TempProgramFolder folder_;
};

TEST_F(MainWindowTest, WindowAndControlsLookAsDrawn) {
  QWidget* window = Open({MapNamed(1, "One")});
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->objectName(), "frmMain");
  EXPECT_EQ(window->windowTitle(), "Corvald Converter");
  EXPECT_EQ(window->size(), QSize(274, 106));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowTitleHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(
      test::IsCentredIn(window->frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry()));
  EXPECT_EQ(window->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));

  struct Control {
    const char* name;
    const char* kind;
    QRect geometry;
    bool bold;
    QString spoken;  // what a screen reader reads out
  };
  const Control controls[] = {
      {"cmbMapList", "QComboBox", {8, 24, 257, 21}, false, "Map #1: One"},
      {"Label", "QLabel", {8, 8, 257, 17}, true, "Number of maps found: 1"},
      {"cmdButton1", "QPushButton", {8, 56, 257, 17}, false, "Dump maps into seperate files"},
      {"cmdButton2", "QPushButton", {8, 80, 257, 17}, false, "Convert map files to database"},
      {"FileList", "QListWidget", {0, 0, 23, 19}, false, ""},
  };
  const bool haveTahoma = QFile::exists("/usr/share/wine/fonts/tahoma.ttf");
  for (const Control& c : controls) {
    SCOPED_TRACE(c.name);
    auto* control = Find<QWidget>(c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->metaObject()->className(), c.kind);
    EXPECT_EQ(control->geometry(), c.geometry);
    EXPECT_EQ(control->font().family(), "Tahoma");
    EXPECT_EQ(control->font().pixelSize(), 11);
    EXPECT_EQ(control->font().bold(), c.bold);
    if (haveTahoma) {
      EXPECT_EQ(QFontInfo(control->font()).family(), "Tahoma");
      EXPECT_EQ(QFontInfo(control->font()).bold(), c.bold);
    }
    if (!c.spoken.isEmpty()) {
      const QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(control);
      ASSERT_NE(spoken, nullptr);
      EXPECT_EQ(spoken->text(c.kind == std::string("QComboBox") ? QAccessible::Value : QAccessible::Name),
                c.spoken);
    }
  }
  for (const char* name : {"cmdButton1", "cmdButton2"}) {
    EXPECT_FALSE(Find<QPushButton>(name)->autoDefault()) << name;
    EXPECT_FALSE(Find<QPushButton>(name)->isDefault()) << name;
  }
  EXPECT_FALSE(Find<QComboBox>("cmbMapList")->isEditable());
  EXPECT_TRUE(Find<QWidget>("FileList")->isHidden());
  EXPECT_EQ(Find<QLabel>("Label")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

  // Tab order, as the focus chain holds it and as Tab walks it: the label and
  // the hidden file list never take the focus.
  QStringList chain;
  for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
    if (!w->objectName().isEmpty() && w->parentWidget() == window) chain.append(w->objectName());
  }
  EXPECT_EQ(chain, (QStringList{"cmbMapList", "Label", "cmdButton1", "cmdButton2", "FileList"}));
  EXPECT_EQ(window->focusWidget(), Find<QWidget>("cmbMapList"));
  window->activateWindow();
  QStringList tabbed;
  for (int i = 0; i < 3; ++i) {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(window->focusWidget(), &tab);
    tabbed.append(window->focusWidget()->objectName());
  }
  EXPECT_EQ(tabbed, (QStringList{"cmdButton1", "cmdButton2", "cmbMapList"}));

  // What is on the screen: the window's colour around the controls, the list's
  // dark field, and the count in the text colour.
  const QImage picture = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  for (const QPoint point : {QPoint(0, 0), QPoint(137, 50), QPoint(273, 105), QPoint(4, 30)}) {
    EXPECT_EQ(QColor(picture.pixel(point)), kBack) << point.x() << "," << point.y();
  }
  EXPECT_EQ(QColor(picture.pixel(200, 34)), kListBack);
  EXPECT_GT(test::TextPixels(picture, QRect(8, 8, 257, 17)), 40);
  EXPECT_GT(test::TextPixels(picture, QRect(9, 25, 120, 19)), 20);
}

TEST_F(MainWindowTest, ListsEveryLoadedMapByNumberAndCountsEveryRow) {
  using namespace std::string_literals;
  std::vector<MapRow> everySlot;
  QStringList everyEntry;
  for (int n = 1; n <= MAX_MAPS; ++n) {
    everySlot.push_back(MapNamed(n, "Map " + std::to_string(n)));
    everyEntry.append(QString("Map #%1: Map %1").arg(n));
  }
  struct Case {
    const char* what;
    std::vector<MapRow> rows;
    int count;
    QStringList entries;
  };
  const Case cases[] = {
      {"empty table", {}, 0, {}},
      {"rows out of order and out of range",
       {MapNamed(5, "Five"), MapNamed(2, "Two"), MapNamed(4000, "Far")},
       3,
       {"Map #2: Two", "Map #5: Five"}},
      {"names kept as they are",
       {MapNamed(9, "a:b #3 caf\xE9"), MapNamed(1, "Desert"s + std::string(24, '\0')), MapNamed(4, ""),
        MapNamed(7, "\0Hidden"s)},
       4,
       {"Map #1: Desert", "Map #7: ", QString::fromUtf8("Map #9: a:b #3 café")}},
      {"every slot", everySlot, MAX_MAPS, everyEntry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapList = MapTable{};
    ASSERT_NE(Open(c.rows), nullptr);

    EXPECT_EQ(MapCount, c.count);
    EXPECT_EQ(Find<QLabel>("Label")->text(), QString("Number of maps found: %1").arg(c.count));
    const auto* list = Find<QComboBox>("cmbMapList");
    EXPECT_EQ(Entries(*list), c.entries);
    EXPECT_EQ(list->currentIndex(), c.entries.isEmpty() ? -1 : 0);
    EXPECT_EQ(list->currentText(), c.entries.value(0));
    ShutDown();
  }
}

TEST_F(MainWindowTest, FileListHoldsTheOrdinaryFilesOfMapsAsTheyWereAtLoad) {
  // Without "Maps" the window makes it and lists nothing.
  ASSERT_NE(Open(), nullptr);
  EXPECT_TRUE(fs::is_directory("Maps"));
  EXPECT_TRUE(FileListEntries().empty());
  ShutDown();

  for (const char* name : {"b.map4", "a.map4", "A.map4", "Map #9 - y.MAP4", "Map #10 - x.map4", "notes.txt",
                           "zeta", "_under", "caf\xC3\xA9.map4", ".hidden.map4"}) {
    folder_.WriteFile(std::string("Maps/") + name, "map");
  }
  fs::create_directory("Maps/sub.map4");
  ASSERT_NE(Open(), nullptr);
  folder_.WriteFile("Maps/Map #1 - late.map4", "map");

  const std::vector<std::string> expected = {"_under",          "A.map4",       "a.map4",
                                             "b.map4",          "caf\xE9.map4", "Map #10 - x.map4",
                                             "Map #9 - y.MAP4", "notes.txt",    "zeta"};
  EXPECT_EQ(FileListEntries(), expected);
  const auto* files = Find<QListWidget>("FileList");
  ASSERT_EQ(files->count(), static_cast<int>(expected.size()));
  EXPECT_EQ(files->item(4)->text(), QString::fromUtf8("café.map4"));

  ShutDown();
  EXPECT_TRUE(FileListEntries().empty());
}

TEST_F(MainWindowTest, APlainFileNamedMapsKeepsTheWindowFromOpening) {
  folder_.WriteFile("Maps", "not a folder");
  std::remove("server.dat");
  test::MakeMapsDatabase("server.dat", test::kServerPassword, {MapNamed(1, "One")});
  test::MessageBoxRecorder boxes;
  ASSERT_TRUE(LoadServerDatabase());

  EXPECT_EQ(test::FailureNumberOf(ShowMain), err::kPathNotFound);
  EXPECT_EQ(frmMain(), nullptr);
  // As start-up runs it: the generic report, and the program ends.
  EXPECT_FALSE(Guarded(ShowMain));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Unexpected error #76: Path not found"});
  EXPECT_EQ(rsMaps, nullptr);
  DeleteClosedWindows();
  for (const QWidget* window : QApplication::topLevelWidgets()) {
    EXPECT_NE(window->objectName(), "frmMain");
  }
  EXPECT_EQ(folder_.ReadFile("Maps"), "not a folder");
}

TEST_F(MainWindowTest, ButtonsRunTheirCommandsAndReportWhatFails) {
  fs::create_directory("Maps");
  folder_.WriteFile("Maps/Map #3 - gone.map4", "map");
  QWidget* main = Open({MapNamed(1, "One")});
  ASSERT_NE(main, nullptr);
  EventCounter mainEvents;
  main->installEventFilter(&mainEvents);
  test::MessageBoxRecorder boxes;

  Find<QPushButton>("cmdButton1")->click();
  EXPECT_TRUE(fs::exists("Maps/Map #1 - One.map4"));
  ASSERT_NE(frmMain(), nullptr);

  // The file went after the window listed it; the command's failure ends the
  // program through the generic report instead of leaving through Qt.
  fs::remove("Maps/Map #3 - gone.map4");
  Find<QPushButton>("cmdButton2")->click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Unexpected error #53: File not found"});
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(mainEvents.Count(QEvent::Close), 1);
}

TEST_F(MainWindowTest, EveryCloseRunsTheCloseHandlerOnceAndDestroysTheWindow) {
  // Nothing to close: no close handler runs, so nothing is shut down.
  SetStatus("Checking zlib.dll ...");
  UnloadMain();
  EXPECT_NE(frmLoading(), nullptr);

  enum class Close { kUnload, kCloseBox, kShutDownTwice };
  for (const Close how : {Close::kUnload, Close::kCloseBox, Close::kShutDownTwice}) {
    SCOPED_TRACE(static_cast<int>(how));
    // Each time a fresh window, which showing again keeps where it is.
    QPointer<QWidget> main = Open();
    ASSERT_NE(main, nullptr);
    main->move(3, 4);
    ShowMain();
    EXPECT_EQ(frmMain(), main);
    EXPECT_EQ(main->pos(), QPoint(3, 4));
    EventCounter mainEvents;
    main->installEventFilter(&mainEvents);
    ASSERT_NE(frmLoading(), nullptr);

    switch (how) {
      case Close::kUnload:
        UnloadMain();
        break;
      case Close::kCloseBox:
        // As the window system delivers the close box.
        QCoreApplication::postEvent(main->windowHandle(), new QCloseEvent);
        QCoreApplication::processEvents();
        break;
      case Close::kShutDownTwice:
        ShutDown();
        ShutDown();
        break;
    }

    EXPECT_EQ(mainEvents.Count(QEvent::Close), 1);
    EXPECT_EQ(frmMain(), nullptr);
    EXPECT_EQ(frmLoading(), nullptr) << "the close handler did not shut down";
    EXPECT_EQ(rsMaps, nullptr);
    DeleteClosedWindows();
    EXPECT_TRUE(main.isNull());
  }
}

}  // namespace
}  // namespace corvald

// The main window on the offscreen platform, loaded from databases that the
// sqlcipher shell made: its look, the map list and count, the hidden file list
// of "Maps", its buttons, and how closing it ends the program through ShutDown.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
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

#include "app/modCorvald.h"
#include "platform/Fonts.h"
#include "store/modDatabase.h"
#include "store/modVariables.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MapRecords.h"
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
using test::NamedRow;

const QColor kBack(75, 81, 97);
const QColor kListBack(31, 35, 46);

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

// What the user meets: a fixed window, centred; what a screen reader reads of
// each control; the order Tab walks; the count drawn in the text colour.
TEST_F(MainWindowTest, WindowAndControlsLookAsDrawn) {
  QWidget* window = Open({NamedRow(1, "One")});
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Corvald Converter");
  EXPECT_EQ(window->size(), QSize(274, 106));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(
      test::IsCentredIn(window->frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry()));
  EXPECT_EQ(window->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  EXPECT_TRUE(Find<QWidget>("FileList")->isHidden());
  EXPECT_FALSE(Find<QComboBox>("cmbMapList")->isEditable());
  EXPECT_EQ(Find<QLabel>("Label")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

  // Where each control stands and the face it is drawn in: Tahoma 8.25 pt, the
  // count in bold.
  struct Placed {
    const char* name;
    QRect geometry;
    bool bold;
  };
  const Placed placed[] = {{"cmbMapList", {8, 24, 257, 21}, false},
                           {"Label", {8, 8, 257, 17}, true},
                           {"cmdButton1", {8, 56, 257, 17}, false},
                           {"cmdButton2", {8, 80, 257, 17}, false},
                           {"FileList", {0, 0, 23, 19}, false}};
  for (const auto& [name, geometry, bold] : placed) {
    const QWidget* control = Find<QWidget>(name);
    EXPECT_EQ(control->geometry(), geometry) << name;
    if (std::string_view(name) == "FileList") continue;
    const QFontInfo face(control->font());
    EXPECT_EQ(face.family(), "Tahoma") << name;
    EXPECT_EQ(face.pixelSize(), 11) << name;
    EXPECT_EQ(face.bold(), bold) << name;
  }

  const std::pair<const char*, QString> spoken[] = {
      {"cmbMapList", "Map #1: One"},
      {"Label", "Number of maps found: 1"},
      {"cmdButton1", "Dump maps into seperate files"},
      {"cmdButton2", "Convert map files to database"},
  };
  for (const auto& [name, text] : spoken) {
    const QAccessibleInterface* control = QAccessible::queryAccessibleInterface(Find<QWidget>(name));
    ASSERT_NE(control, nullptr) << name;
    EXPECT_EQ(control->text(name == std::string("cmbMapList") ? QAccessible::Value : QAccessible::Name),
              text);
  }

  // The label and the hidden file list never take the focus; Enter presses no button.
  EXPECT_EQ(window->focusWidget(), Find<QWidget>("cmbMapList"));
  window->activateWindow();
  QStringList tabbed;
  for (int i = 0; i < 3; ++i) {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(window->focusWidget(), &tab);
    tabbed.append(window->focusWidget()->objectName());
  }
  EXPECT_EQ(tabbed, (QStringList{"cmdButton1", "cmdButton2", "cmbMapList"}));
  for (const char* name : {"cmdButton1", "cmdButton2"}) {
    EXPECT_FALSE(Find<QPushButton>(name)->autoDefault() || Find<QPushButton>(name)->isDefault()) << name;
  }

  const QImage picture = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(QColor(picture.pixel(0, 0)), kBack);
  EXPECT_EQ(QColor(picture.pixel(200, 34)), kListBack);
  EXPECT_GT(test::TextPixels(picture, QRect(8, 8, 257, 17)), 40);
  EXPECT_GT(test::TextPixels(picture, QRect(9, 25, 120, 19)), 20);
}

TEST_F(MainWindowTest, ListsEveryLoadedMapByNumberAndCountsEveryRow) {
  using namespace std::string_literals;
  std::vector<MapRow> everySlot;
  QStringList everyEntry;
  for (int n = 1; n <= MAX_MAPS; ++n) {
    everySlot.push_back(NamedRow(n, "Map " + std::to_string(n)));
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
       {NamedRow(5, "Five"), NamedRow(2, "Two"), NamedRow(4000, "Far")},
       3,
       {"Map #2: Two", "Map #5: Five"}},
      {"names kept as they are",
       {NamedRow(9, "a:b #3 caf\xE9"), NamedRow(1, "Desert"s + std::string(24, '\0')), NamedRow(4, ""),
        NamedRow(7, "\0Hidden"s)},
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

// A command's failure ends the program through the generic report instead of
// leaving through Qt; the file went after the window listed it, the file
// converted before it stays stored, and the one after, read ahead, is not.
TEST_F(MainWindowTest, AButtonsFailureIsReportedAndClosesTheWindow) {
  fs::create_directory("Maps");
  folder_.WriteFile("Maps/Map #1 - kept.map4", "new one");
  folder_.WriteFile("Maps/Map #3 - gone.map4", "map");
  folder_.WriteFile("Maps/Map #5 - after.map4", "read ahead, never stored");
  QWidget* main = Open({NamedRow(1, "One"), NamedRow(3, "Three")});
  ASSERT_NE(main, nullptr);
  EventCounter mainEvents;
  main->installEventFilter(&mainEvents);
  test::MessageBoxRecorder boxes;

  fs::remove("Maps/Map #3 - gone.map4");
  Find<QPushButton>("cmdButton2")->click();
  EXPECT_EQ(boxes.Texts(),
            std::vector<std::string>{"Unexpected error #53: File not found (Maps/Map #3 - gone.map4)"});
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(mainEvents.Count(QEvent::Close), 1);
  EXPECT_EQ(test::ReadMapsWithShell("server.dat", test::kServerPassword),
            (std::vector<MapRow>{{1, CompressData(std::string("new one"))}, NamedRow(3, "Three")}));
}

TEST_F(MainWindowTest, EveryCloseRunsTheCloseHandlerOnceAndDestroysTheWindow) {
  // Nothing to close: no close handler runs, so nothing is shut down; ShutDown
  // before anything is open does nothing.
  ShutDown();
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
    EXPECT_EQ(dbServer, nullptr);
    EXPECT_EQ(wsServer, nullptr);
    DeleteClosedWindows();
    EXPECT_TRUE(main.isNull());
  }
}

}  // namespace
}  // namespace corvald

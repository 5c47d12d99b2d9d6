// The engine layer and the window program on Jet databases that another Jet
// library made: the calls the program makes and the failure numbers it relies
// on, start-up leaving every file as it was, and the convert refused.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>

#include "app/modCorvald.h"
#include "store/EngineErrors.h"
#include "store/modDatabase.h"
#include "tests/store/EngineTestSupport.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/StatusTexts.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/Commands.h"
#include "ui/frmMain.h"

namespace corvald::test {
namespace {

namespace err = engine::err;

std::string Fixture(const char* name) {
  return FileBytes(std::filesystem::path(CORVALD_JET_FIXTURES) / name);
}

TEST(Jet, AnswersTheLoadsCallsReadOnlyWithTheNumbersOfTheSqlCipherPath) {
  TempProgramFolder folder;
  const std::string original = Fixture("no-password.mdb");
  folder.WriteFile("server.dat", original);
  // A file without a password opens whatever password is given.
  auto database = OpenServer();
  EXPECT_FALSE(database->Updatable());
  EXPECT_EQ(FailureNumberOf([&] { database->TableDefs("Tiles"); }), err::kItemNotFound);
  auto maps = OpenMaps(*database, nullptr);
  EXPECT_EQ(FailureNumberOf([&] { maps->SetIndex("Name"); }), err::kNotAnIndex);
  maps->SetIndex("NUMBER");
  EXPECT_EQ(maps->RecordCount(), 2);
  EXPECT_EQ(Walk(*maps).size(), 2u);
  EXPECT_EQ(FailureNumberOf([&] { maps->Field("Tiles"); }), err::kItemNotFound);
  maps->MoveFirst();
  maps->Edit();
  maps->SetField("Data", std::string("new"));
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kReadOnly);
  maps->AddNew();
  EXPECT_EQ(FailureNumberOf([&] { maps->Update(); }), err::kReadOnly);
  EXPECT_EQ(FailureNumberOf([&] { maps->Seek("=", 1); }), err::kNotSupported);
  maps.reset();
  database.reset();
  EXPECT_EQ(folder.ReadFile("server.dat"), original);
}

// The files of the folder are checked through corvald-batch; here the window
// program's status texts and boxes.
TEST(Jet, StartsWithTheUsualTextsAndRefusesToConvertInABoxWhileTheMainWindowStays) {
  TempProgramFolder folder;
  const std::string original = Fixture("maps-ole.mdb");
  folder.WriteFile("server.dat", original);
  std::filesystem::create_directory("Maps");
  folder.WriteFile("Maps/Map #1 - One.map4", "One");
  MapList = MapTable{};
  const StatusTexts status;
  const MessageBoxRecorder boxes;

  ASSERT_TRUE(LoadServerDatabase());
  ShowMain();
  EXPECT_EQ(MapList[11].Name, "New eleven");
  EXPECT_FALSE(cmdButton2_Click());

  EXPECT_EQ(status.shown, (std::vector<std::string>{"Opening Server Database..", "Loading Maps.."}));
  EXPECT_EQ(boxes.Texts(),
            std::vector<std::string>{"Error: File 'server.dat' is a Jet database, which this program "
                                     "reads but does not write. No map was converted."});
  EXPECT_EQ(boxes.Boxes().at(0).icon, MsgIcon::kNone);
  EXPECT_NE(frmMain(), nullptr);
  ShutDown();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(folder.ReadFile("server.dat"), original);
}

}  // namespace
}  // namespace corvald::test

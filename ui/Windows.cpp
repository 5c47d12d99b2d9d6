#include "ui/Windows.h"

#include <QCoreApplication>

#include "platform/MessageBox.h"
#include "platform/UserInterface.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald {

void InstallWindows() {
  SetUserInterface({
      .showStatus = ShowStatusWindow,
      .closeStatus = CloseStatusWindow,
      .showMessage = ShowMessageBox,
      .yield = [] { QCoreApplication::processEvents(); },
      .showMain = ShowMainWindow,
      .closeMain = CloseMainWindow,
      .fileList = MainWindowFileList,
  });
}

}  // namespace corvald

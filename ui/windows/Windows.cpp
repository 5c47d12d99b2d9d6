// The windows plugged into the user-interface seam.

#include "ui/windows/Windows.h"

#include <QCoreApplication>

#include "platform/MessageBox.h"
#include "platform/UserInterface.h"
#include "ui/windows/frmLoading.h"
#include "ui/windows/frmMain.h"

namespace corvald {

void InstallWindows() {
  SetUserInterface({
      .showStatus = ShowStatusWindow,
      .waitingLeft = StatusWaitingLeft,
      .showWaiting = [] { DrawWaitingStatus(false); },
      .closeStatus = CloseStatusWindow,
      .showMessage = ShowMessageBox,
      .yield =
          [] {
            DrawWaitingStatus(true);
            QCoreApplication::processEvents();
          },
      .showMain = ShowMainWindow,
      .closeMain = CloseMainWindow,
      .fileList = MainWindowFileList,
  });
}

}  // namespace corvald

// The message box as a Qt message box, and confirming the open ones.
#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/AnsiCodePage.h"

namespace corvald {

void ShowMessageBox(std::string_view text, MsgIcon icon) {
  QMessageBox box(icon == MsgIcon::kCritical ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QStringLiteral("Corvald"), FromAnsi(text), QMessageBox::Ok);
  box.setObjectName(QStringLiteral("msgBox"));
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void ConfirmMessageBoxes() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(window); box != nullptr && box->isVisible())
      box->done(QMessageBox::Ok);
  }
}

}  // namespace corvald

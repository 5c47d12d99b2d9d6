#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/AnsiCodePage.h"

namespace corvald {

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

void MsgBox(std::string_view text, MsgIcon icon) {
  if (Handler()) {
    Handler()(std::string(text), icon);
    return;
  }
  QMessageBox box(icon == MsgIcon::kCritical ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QStringLiteral("Corvald"), FromAnsi(text), QMessageBox::Ok);
  box.setObjectName(QStringLiteral("msgBox"));
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace corvald

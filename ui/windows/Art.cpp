// The program's pictures, read from the resources that corvald_gui carries.

#include "ui/windows/Art.h"

#include <QString>

// The pictures are compiled into corvald_gui; registering them here also makes
// the linker keep them in every program that uses the windows.
static void RegisterPictures() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  (void)registered;
}

namespace corvald {

QIcon ApplicationIcon() {
  RegisterPictures();
  return QIcon(QStringLiteral(":/corvald/icon.ico"));
}

QPixmap BannerPicture() {
  RegisterPictures();
  return QPixmap(QStringLiteral(":/corvald/banner.bmp"));
}

}  // namespace corvald

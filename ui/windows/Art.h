#pragma once

// The application icon and the status window's background picture.

#include <QIcon>
#include <QPixmap>

namespace corvald {

// The application icon: 16, 32 and 48-pixel images.
QIcon ApplicationIcon();

// The status window's 300 x 39-pixel background picture.
QPixmap BannerPicture();

}  // namespace corvald

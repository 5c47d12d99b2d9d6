#pragma once

// Centring a top-level window on its screen.

class QWidget;

namespace corvald {

// Moves a top-level window so that it sits in the middle of its screen.
void CentreOnScreen(QWidget& window);

}  // namespace corvald

#include "ui/frmLoading.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QStaticText>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include "platform/AnsiCodePage.h"
#include "platform/Fonts.h"
#include "ui/Art.h"
#include "ui/Centring.h"
#include "ui/CloseRequestHold.h"

namespace corvald {

namespace {

constexpr QSize kClientSize(300, 39);
constexpr QRect kLabelGeometry(8, 8, 281, 25);
constexpr QColor kTextColour(194, 173, 154);
// How long SetStatus waits at most for a newly shown window to be drawable.
constexpr int kExposeDeadlineMs = 2000;
// A screen shows a new picture about every 16 ms; a text drawn sooner after
// the last one could not be seen.
constexpr qint64 kFrameNs = 16'000'000;

QPointer<QWidget> loadingWindow;
// Since the label was last drawn at once.
QElapsedTimer sinceDrawn;

// The status label. Its text is laid out once per text, and that one layout
// both tells whether the text fits and is what gets drawn: text that fits is
// centred, text that does not keeps its start and is cut at the right edge.
// The progress texts change with every map, so laying each out twice would be
// most of what showing it costs.
class StatusLabel : public QLabel {
 public:
  explicit StatusLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    layout_.setTextFormat(Qt::PlainText);
  }

  void SetStatusText(const QString& text) {
    layout_.setText(text);
    layout_.prepare(QTransform(), font());
    setText(text);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const qreal spare = width() - layout_.size().width();
    painter.drawStaticText(QPointF(spare >= 0 ? spare / 2 : 0, 0), layout_);
  }

 private:
  QStaticText layout_;
};

QWidget* LoadLoadingWindow() {
  auto* window = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
  window->setObjectName(QStringLiteral("frmLoading"));
  window->setWindowTitle(QStringLiteral("Loading Server"));
  window->setWindowIcon(ApplicationIcon());
  window->setFixedSize(kClientSize);
  QPalette background = window->palette();
  background.setBrush(QPalette::Window, QBrush(BannerPicture()));
  window->setPalette(background);
  window->setAutoFillBackground(true);

  auto* label = new StatusLabel(window);
  label->setObjectName(QStringLiteral("lblStatus"));
  label->setGeometry(kLabelGeometry);
  label->setFont(PixelFont("Times New Roman", 12, true));
  QPalette text = label->palette();
  text.setColor(QPalette::WindowText, kTextColour);
  label->setPalette(text);
  label->setAutoFillBackground(false);
  return window;
}

// A window that was just shown draws nothing until the window system has
// exposed it. Waits for that, letting through neither user input nor close
// requests (those come later, in order).
void WaitUntilExposed(QWidget& window) {
  const CloseRequestHold hold;
  QElapsedTimer elapsed;
  elapsed.start();
  while (window.windowHandle() != nullptr && !window.windowHandle()->isExposed() &&
         elapsed.elapsed() < kExposeDeadlineMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!window.windowHandle()->isExposed()) QThread::msleep(1);
  }
}

}  // namespace

void ShowStatusWindow(std::string_view text, bool paced) {
  if (!loadingWindow) loadingWindow = LoadLoadingWindow();
  QWidget& window = *loadingWindow;
  if (!window.isVisible()) {
    CentreOnScreen(window);
    window.show();
    WaitUntilExposed(window);
  }
  // The one label of the window, made in LoadLoadingWindow.
  auto* label = static_cast<StatusLabel*>(window.findChild<QLabel*>(QStringLiteral("lblStatus")));
  label->SetStatusText(FromAnsi(text));
  if (paced && sinceDrawn.isValid() && sinceDrawn.nsecsElapsed() < kFrameNs) {
    label->update();
    return;
  }
  label->repaint();
  sinceDrawn.start();
}

void CloseStatusWindow() { delete loadingWindow.data(); }

QWidget* frmLoading() { return loadingWindow.data(); }

}  // namespace corvald

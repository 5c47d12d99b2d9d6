// The status window: one line of progress over the banner, drawn at once or
// paced to the screen's frames.
#include "ui/windows/frmLoading.h"

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
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "platform/AnsiCodePage.h"
#include "platform/Fonts.h"
#include "ui/windows/Art.h"
#include "ui/windows/Centring.h"
#include "ui/windows/CloseRequestHold.h"

namespace corvald {

namespace {

constexpr QSize kClientSize(300, 39);
constexpr QRect kLabelGeometry(8, 8, 281, 25);
constexpr QColor kTextColour(194, 173, 154);
// How long SetStatus waits at most for a newly shown window to be drawable.
constexpr int kExposeDeadlineMs = 2000;
// A screen shows a new picture about every 16 ms; a text drawn sooner after
// the last one could not be seen.
constexpr std::int64_t kFrameNs = 16'000'000;

QPointer<QWidget> loadingWindow;

// The pacing of the texts: when the label was last drawn, by the clock, and
// the text that waits for its frame.
struct Pacing {
  std::function<std::int64_t()> clock;
  std::optional<std::int64_t> drawnAt;
  std::optional<std::string> waiting;
};

Pacing& Paced() {
  static Pacing pacing;
  return pacing;
}

std::int64_t Now() {
  const Pacing& pacing = Paced();
  if (pacing.clock) return pacing.clock();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool WithinFrame() {
  const Pacing& pacing = Paced();
  return pacing.drawnAt && Now() - *pacing.drawnAt < kFrameNs;
}

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

// Draws the text at once in the open window, and nothing waits after it.
void Draw(std::string_view text) {
  // The one label of the window, made in LoadLoadingWindow.
  auto* label = static_cast<StatusLabel*>(loadingWindow->findChild<QLabel*>(QStringLiteral("lblStatus")));
  label->SetStatusText(FromAnsi(text));
  label->repaint();
  Pacing& pacing = Paced();
  pacing.drawnAt = Now();
  pacing.waiting.reset();
}

}  // namespace

void ShowStatusWindow(std::string_view text, bool paced) {
  if (!loadingWindow) loadingWindow = LoadLoadingWindow();
  QWidget& window = *loadingWindow;
  bool opened = false;
  if (!window.isVisible()) {
    CentreOnScreen(window);
    window.show();
    WaitUntilExposed(window);
    opened = true;
  }
  // A text that waits is kept aside, not given to the label: the label would
  // be drawn with the next window events, whether a frame has passed or not.
  if (paced && !opened && WithinFrame()) {
    Paced().waiting = std::string(text);
    return;
  }
  Draw(text);
}

void DrawWaitingStatus(bool dueOnly) {
  const Pacing& pacing = Paced();
  if (!loadingWindow || !pacing.waiting || (dueOnly && WithinFrame())) return;
  const std::string text = *pacing.waiting;
  Draw(text);
}

std::optional<std::chrono::nanoseconds> StatusWaitingLeft() {
  const Pacing& pacing = Paced();
  if (!loadingWindow || !pacing.waiting) return std::nullopt;
  const std::int64_t since = pacing.drawnAt ? Now() - *pacing.drawnAt : kFrameNs;
  return std::chrono::nanoseconds(std::max<std::int64_t>(0, kFrameNs - since));
}

void CloseStatusWindow() {
  delete loadingWindow.data();
  Paced().waiting.reset();
}

QWidget* frmLoading() { return loadingWindow.data(); }

void SetStatusClock(std::function<std::int64_t()> clock) {
  Pacing& pacing = Paced();
  pacing.clock = std::move(clock);
  pacing.drawnAt.reset();
}

}  // namespace corvald

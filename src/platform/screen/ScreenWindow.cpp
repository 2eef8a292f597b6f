#include "platform/screen/ScreenWindow.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>

#include "platform/Unicode.h"
#include "platform/screen/ScreenKeys.h"

namespace screen {

namespace {

// How often the desk's change count is read when the source cannot tell of changes; a
// frame is fetched only when it moved.
constexpr int kTickMs = 16;
// How often it is read all the same when the source tells: for the menu bar's clock.
constexpr int kToldTickMs = 1000;
// While a frame may change without the count (a slide), or could not be had, it is
// fetched again at most this often.
constexpr int kChangingFrameMs = 33;
constexpr double kMargin = 8;

// A touchpad scroll's phase as the platform numbers it (began 1, changed 2, ended 4).
std::int64_t scrollPhase(Qt::ScrollPhase phase) {
  switch (phase) {
    case Qt::ScrollBegin: return 1;
    case Qt::ScrollUpdate: return 2;
    case Qt::ScrollEnd: return 4;
    default: return 0;
  }
}

}  // namespace

ScreenWindow::ScreenWindow(ScreenSource* source, std::optional<std::string> problem)
    : source_(source), problem_(std::move(problem)) {
  setWindowTitle("Simulated Mac");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(1, 1);
  resize(1280, 720 + kFootHeight);
  connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
  if (source_ && !problem_) {
    // Told on the source's thread; read on this one, once per batch of changes.
    told_ = source_->watch([this] {
      QMetaObject::invokeMethod(
          this,
          [this] {
            toldChange_ = true;
            tick();
          },
          Qt::QueuedConnection);
    });
    timer_.start(0);  // the first frames at once; tick sets the pace from then on
  }
  sinceFetch_.start();
}

ScreenWindow::~ScreenWindow() {
  if (told_) source_->watch(nullptr);
}

void ScreenWindow::hostLost(const std::string& why) {
  QPointer<ScreenWindow> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, why] {
        if (!self || self->problem_) return;
        self->problem_ = "The simulated Mac went away (" + why + ").";
        std::cerr << "simscreen: the simulated Mac went away (" << platform::Unicode::oneLine(why) << "); closing"
                  << std::endl;
        self->timer_.stop();
        self->update();
        QTimer::singleShot(self->noticeMs_, qApp, [] { QCoreApplication::exit(3); });
      },
      Qt::QueuedConnection);
}

void ScreenWindow::tick() {
  if (problem_ || !source_) return;
  look();
  timer_.setInterval(!told_ || changing_ || retry_ ? kTickMs : kToldTickMs);
}

bool ScreenWindow::fetchTold() {
  if (!std::exchange(toldChange_, false) || stale_ || !generation_) return false;
  if (auto sent = source_->sentFrames()) {
    // Sent with the notice: nothing to ask. The source sends the next once they show.
    std::map<std::uint32_t, QRectF> areas;
    const auto requests = this->requests(areas);
    readyOwed_ = true;
    if (!takeFrames(requests, areas, *sent)) {
      readyOwed_ = false;
      source_->ready();
    }
  } else {
    fetch();
  }
  auto desk = source_->framesDesk();
  if (!desk) return false;  // the count is read as without being told
  generation_ = desk->generation;
  auto places = topLeftFrames(desk->screens);
  if (places != places_) {
    // The frames were fetched for displays that changed meanwhile: fetched again for them.
    places_ = std::move(places);
    relayout();
    update();
    fetch();
  }
  return true;
}

void ScreenWindow::look() {
  if (fetchTold()) return;
  const auto generation = source_->generation();
  if (!generation) return;
  const bool moved = *generation != generation_;
  if (moved) {
    generation_ = *generation;
    auto places = topLeftFrames(source_->screens());
    if (places != places_) {
      places_ = std::move(places);
      relayout();
      update();
    }
  }
  if (moved || stale_ || ((changing_ || retry_) && sinceFetch_.elapsed() >= kChangingFrameMs)) fetch();
}

void ScreenWindow::relayout() {
  layout_ = fit(places_, width(), std::max(0, height() - kFootHeight), kMargin);
  stale_ = true;
}

void ScreenWindow::fetch() {
  stale_ = false;
  sinceFetch_.restart();
  std::map<std::uint32_t, QRectF> areas;
  const auto requests = this->requests(areas);
  takeFrames(requests, areas, source_->frames(requests));
}

std::vector<ScreenSource::Request> ScreenWindow::requests(std::map<std::uint32_t, QRectF>& areas) const {
  const double ratio = devicePixelRatioF();
  std::vector<ScreenSource::Request> requests;
  for (const Placed& p : layout_.displays) {
    const int w = static_cast<int>(std::lround(p.area.width() * ratio));
    const int h = static_cast<int>(std::lround(p.area.height() * ratio));
    if (w < 1 || h < 1) continue;
    auto held = frames_.find(p.id);
    const bool fits = held != frames_.end() && held->second.takesPieces(QSize(w, h));
    requests.push_back({p.id, w, h, fits ? held->second.sequence : 0});
    areas[p.id] = QRectF(p.area.minX(), p.area.minY(), p.area.width(), p.area.height());
  }
  return requests;
}

bool ScreenWindow::takeFrames(const std::vector<ScreenSource::Request>& requests,
                              const std::map<std::uint32_t, QRectF>& areas,
                              std::map<std::uint32_t, ScreenSource::Frame> answers) {
  changing_ = false;
  retry_ = false;
  bool drawn = false;
  auto redraw = [&](const QRect& r) {
    update(r);
    drawn = true;
  };
  const double ratio = devicePixelRatioF();
  std::erase_if(frames_, [&](const auto& held) { return !areas.count(held.first); });
  for (const ScreenSource::Request& asked : requests) {
    const QRectF& area = areas.at(asked.id);
    auto answer = answers.find(asked.id);
    auto held = frames_.find(asked.id);
    // A frame that could not be had leaves the one held on the screen (drawn to the area's
    // size until the next one comes): never a hole.
    const bool complete = answer != answers.end() && (!answer->second.whole.isNull() || answer->second.shared);
    if (answer == answers.end() || (!complete && (asked.since == 0 || held == frames_.end()))) {
      retry_ = true;
      continue;
    }
    ScreenSource::Frame& frame = answer->second;
    changing_ = changing_ || frame.changing;
    if (frame.shared) {
      const bool same = held != frames_.end() && held->second.shared == frame.shared;
      frames_[asked.id] = Held{QImage(), frame.shared, frame.sequence};
      if (!same || !frame.sharedChange) {
        redraw(area.toAlignedRect());
        continue;
      }
      // Only what changed is drawn again, straight from the shared frame.
      for (const QRect& r : *frame.sharedChange)
        redraw(QRectF(area.topLeft() + QPointF(r.topLeft()) / ratio, QSizeF(r.size()) / ratio)
                   .toAlignedRect()
                   .adjusted(-1, -1, 1, 1));
      continue;
    }
    if (!frame.whole.isNull()) {
      frames_[asked.id] = Held{std::move(frame.whole), nullptr, frame.sequence};
      redraw(area.toAlignedRect());
      continue;
    }
    // Only what changed is copied in and drawn again.
    QPainter painter(&held->second.image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const auto& [at, piece] : frame.pieces) {
      painter.drawImage(at, piece);
      redraw(QRectF(area.topLeft() + QPointF(at) / ratio, QSizeF(piece.size()) / ratio)
                 .toAlignedRect()
                 .adjusted(-1, -1, 1, 1));
    }
    held->second.sequence = frame.sequence;
  }
  return drawn;
}

void ScreenWindow::paintEvent(QPaintEvent* event) {
  // What was sent shows with this paint: the next may come while it is drawn.
  if (std::exchange(readyOwed_, false)) source_->ready();
  if (painted_ && !std::exchange(paintedOwed_, true)) {
    // Queued behind this paint: Qt hands what was painted to the window system before it
    // takes the next event.
    QMetaObject::invokeMethod(
        this,
        [this] {
          paintedOwed_ = false;
          if (painted_) painted_();
        },
        Qt::QueuedConnection);
  }
  QPainter painter(this);
  painter.fillRect(rect(), QColor(24, 24, 26));
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const int foot = std::min(height(), kFootHeight);
  if (problem_) {
    painter.setPen(QColor(240, 240, 240));
    QFont font = painter.font();
    font.setPixelSize(16);
    painter.setFont(font);
    painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromStdString(*problem_));
    return;
  }
  for (const Placed& p : layout_.displays) {
    const QRectF area(p.area.minX(), p.area.minY(), p.area.width(), p.area.height());
    auto it = frames_.find(p.id);
    bool drawn = false;
    if (it != frames_.end() && it->second.shared) {
      // An opaque frame: copied as it is, not blended.
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      drawn = it->second.shared->read([&](const QImage& frame, std::uint64_t) { painter.drawImage(area, frame); });
      painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else if (it != frames_.end()) {
      painter.drawImage(area, it->second.image);
      drawn = true;
    }
    if (!drawn) painter.fillRect(area, QColor(48, 48, 52));
  }
  // The mapping, at the foot: only when a paint reaches it, as a display's frame changing
  // leaves it as it was, and laid out once per width.
  const QRect strip(0, height() - foot, width(), foot);
  if (!event->region().intersects(strip)) return;
  ++legendsDrawn_;
  painter.fillRect(strip, QColor(40, 40, 44));
  QFont font = painter.font();
  font.setPixelSize(12);
  painter.setFont(font);
  painter.setPen(QColor(210, 210, 214));
  const int room = std::max(0, strip.width() - 20);
  if (!legend_ || legend_->width != room) {
    ++legendsLaid_;
    legend_ = Legend{room, QStaticText(QFontMetrics(font).elidedText(QString::fromStdString(mappingLegend()),
                                                                      Qt::ElideRight, room))};
    legend_->text.setTextFormat(Qt::PlainText);
    legend_->text.prepare(QTransform(), font);
  }
  const QSizeF size = legend_->text.size();
  painter.drawStaticText(QPointF(10, strip.top() + (strip.height() - size.height()) / 2), legend_->text);
}

void ScreenWindow::resizeEvent(QResizeEvent*) {
  relayout();
  update();
  if (timer_.isActive()) timer_.start(0);  // fetched at the new size at once
}

void ScreenWindow::post(const CGEvent& event) {
  if (problem_ || !source_) return;
  // Stamped as the hardware's (the platform's source-state field, 45, holding the HID
  // system's state, 1): a person's keyboard and pointer need no permission to post, so
  // they still work after the person took Accessibility away in the settings.
  CGEvent stamped = event;
  stamped.integerFields[45] = 1;
  source_->post(stamped);
}

void ScreenWindow::key(QKeyEvent* event, bool down) {
  if (event->isAutoRepeat() && !down) return;
  if (const auto modifier = macModifier(event->key())) {
    flags_ = down ? (flags_ | modifier->flag) : (flags_ & ~modifier->flag);
    if (auto e = CGEventCreateKeyboardEvent(nullptr, modifier->key, down)) {
      CGEventSetType(e, kCGEventFlagsChanged);
      CGEventSetFlags(e, flags_);
      post(*e);
    }
    return;
  }
  if (const auto fingers = doubleTapFingers(event->key(), event->modifiers())) {
    if (down && !event->isAutoRepeat() && !problem_ && source_) source_->doubleTap(*fingers);
    return;
  }
  const std::u16string text = event->text().toStdU16String();
  const auto code = postedKey(event->key(), event->nativeScanCode(), text);
  if (!code) return;
  flags_ = macFlags(event->modifiers());
  if (auto e = CGEventCreateKeyboardEvent(nullptr, *code, down)) {
    CGEventSetFlags(e, flags_);
    // The Linux keyboard's own text, so any character it makes arrives; with ⌘ held the
    // Mac's layout types the key instead, as shortcuts read the key, not the text.
    if (down && isTypedText(text) && !(flags_ & kCGEventFlagMaskCommand)) {
      CGEventKeyboardSetUnicodeString(e, text.size(), text.data());
    }
    post(*e);
  }
}

void ScreenWindow::keyPressEvent(QKeyEvent* event) { key(event, true); }
void ScreenWindow::keyReleaseEvent(QKeyEvent* event) { key(event, false); }

void ScreenWindow::pointer(CGEventType type, const QPointF& at, CGMouseButton button, std::int64_t clicks) {
  const auto point = toDesk(layout_, at.x(), at.y(), kCornerReach);
  if (!point) return;
  if (auto e = CGEventCreateMouseEvent(nullptr, type, *point, button)) {
    CGEventSetFlags(e, flags_);
    if (clicks > 0) CGEventSetIntegerValueField(e, kCGMouseEventClickState, clicks);
    post(*e);
  }
}

void ScreenWindow::mouseMoveEvent(QMouseEvent* event) {
  const Qt::MouseButtons held = event->buttons();
  const CGEventType type = held & Qt::LeftButton    ? kCGEventLeftMouseDragged
                           : held & Qt::RightButton ? kCGEventRightMouseDragged
                                                    : kCGEventMouseMoved;
  pointer(type, event->position(), held & Qt::RightButton ? kCGMouseButtonRight : kCGMouseButtonLeft);
}

void ScreenWindow::mousePressEvent(QMouseEvent* event) {
  const bool right = event->button() == Qt::RightButton;
  pointer(right ? kCGEventRightMouseDown : kCGEventLeftMouseDown, event->position(),
          right ? kCGMouseButtonRight : kCGMouseButtonLeft, 1);
}

void ScreenWindow::mouseReleaseEvent(QMouseEvent* event) {
  const bool right = event->button() == Qt::RightButton;
  pointer(right ? kCGEventRightMouseUp : kCGEventLeftMouseUp, event->position(),
          right ? kCGMouseButtonRight : kCGMouseButtonLeft, 1);
}

void ScreenWindow::wheelEvent(QWheelEvent* event) {
  const auto point = toDesk(layout_, event->position().x(), event->position().y(), 0);
  if (!point) return;
  CGEventRef e;
  if (!event->pixelDelta().isNull()) {
    // A touchpad: a continuous scroll in points with its phases, as a trackpad's.
    const QPoint pixels = event->pixelDelta();
    e = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, pixels.y(), pixels.x());
    if (!e) return;
    CGEventSetIntegerValueField(e, kCGScrollWheelEventScrollPhase, scrollPhase(event->phase()));
    if (event->phase() == Qt::ScrollMomentum) {
      CGEventSetIntegerValueField(e, kCGScrollWheelEventScrollPhase, 0);
      CGEventSetIntegerValueField(e, kCGScrollWheelEventMomentumPhase, 2);
    }
  } else {
    // A wheel: whole notches, keeping what a fine-grained wheel leaves over for the next turn.
    wheelRest_ += event->angleDelta();
    const int down = wheelRest_.y() / 120, across = wheelRest_.x() / 120;
    wheelRest_ -= QPoint(across * 120, down * 120);
    if (down == 0 && across == 0) return;
    e = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, 2, down, across);
    if (!e) return;
  }
  e->location = *point;
  CGEventSetFlags(e, flags_);
  post(*e);
}

}  // namespace screen

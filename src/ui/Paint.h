#pragma once
// Colours, shapes, fonts and the few drawn symbols shared by every window of the program's
// own: the guide, Preferences, the welcome window and the menu's mode picker. The colours
// are the system's adaptive styles in its current appearance, light or dark. Main thread only.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QTextLayout>
#include <memory>

#include "platform/Image.h"
#include "switcher/views/ShadowMasks.h"

namespace trelliq::ui {

/// Whether the colours are the dark appearance's now.
bool isDark();
/// The primary foreground style at `opacity`.
QColor primary(double opacity = 1);
QColor secondary();
QColor accent();
QColor separator();
QColor controlBackground();
QColor windowBackground();
/// The regular material of a plate laid over the demonstrations' sample desktop: light in
/// the light appearance, dark in the dark one. Its blur would leave the desktop's gentle
/// wash as it is, so what shows of it is this veil.
QColor regularMaterial();
/// The colour `t` of the way from `from` to `to` (0 to 1), alpha included.
QColor mix(const QColor& from, const QColor& to, double t);

/// Whether a shape looks the same beyond this frame. One whose look changes at every frame
/// of a move (a highlight fading, a cap lighting up, a border taking the accent) is
/// `passing`: it is drawn as it is, since a kept picture of it would serve no other frame
/// and push out the pictures that do. One that stays where it is and only grows stronger or
/// fainter (a highlight easing in or out) is `fading`: laid from one kept picture of it in
/// its full colour at the fade's strength, the same picture at every frame of the fade.
enum class Look { lasting, passing, fading };
/// `passing` while `progress` is strictly between 0 and 1, `lasting` at either end.
inline Look lookAt(double progress) { return progress > 0 && progress < 1 ? Look::passing : Look::lasting; }
/// `fading` while `progress` is strictly between 0 and 1, `lasting` at either end.
inline Look fadingAt(double progress) { return progress > 0 && progress < 1 ? Look::fading : Look::lasting; }

/// Fills a rounded rectangle.
void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color, Look look = Look::lasting);
/// Strokes a rounded rectangle inside its edge.
void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double width,
                         Look look = Look::lasting);
/// The soft shadow a shape casts, blurred as the switcher's panels blur theirs.
using views::paintShadow;
/// A raised rounded plate: its shadow, black at `shadow` opacity blurred over `blur` points
/// half a point down, then the fill.
void fillRaised(QPainter& painter, const QRectF& rect, double radius, const QColor& color, double shadow = 0.25,
                double blur = 0.5, Look look = Look::lasting);
/// `color` with its alpha scaled by `opacity` as the painter scales a solid colour's. Text
/// drawn in it looks as text drawn at that opacity, and is blended on this thread: text at
/// a painter's partial opacity is blended span by span, and its many spans wake the raster
/// engine's helper threads.
QColor faded(const QColor& color, double opacity);
/// The sample desktop picture of the demonstrations: a blue diagonal wash over `rect`.
QLinearGradient sampleWallpaper(const QRectF& rect);
/// The sample desktop picture as a rounded plate at `opacity` (of the painter's own).
void fillSampleWallpaper(QPainter& painter, const QRectF& rect, double radius, double opacity);
/// The system font at `size` (one point of the window is one pixel: a Qt point size would
/// grow the text with the screen's dots per inch) and `weight`. A Qt font holds only whole
/// pixel sizes, so a fractional size is rounded here; `TextFont` draws one exactly.
QFont systemFont(double size, QFont::Weight weight = QFont::Normal);
/// The system font at any size, fractional ones drawn and measured exactly: the font's own
/// scaler rounds a size to whole pixels too, so a fractional size is the font at a whole
/// multiple of it, scaled down by as much as it is drawn. A whole size is the plain font.
struct TextFont {
  QFont font;        // at a whole pixel size
  double scale = 1;  // points per pixel of `font`
  /// The width `text` advances by and the height of a line, in points.
  QSizeF measure(const QString& text) const;
  /// Draws `text` in `box` (points) as QPainter::drawText does, in the painter's pen.
  void draw(QPainter& painter, const QRectF& box, int flags, const QString& text) const;
};
TextFont textFont(double size, QFont::Weight weight = QFont::Normal);
/// One line of text shaped once, for a label drawn on every frame of a move: drawn
/// centred in a box, in the painter's pen, pixel for pixel as
/// QPainter::drawText(box, Qt::AlignCenter, text) would draw it in `font`.
class LaidOutLine {
 public:
  LaidOutLine(const QString& text, const QFont& font);
  void drawCentred(QPainter& painter, const QRectF& box) const;

 private:
  std::shared_ptr<QTextLayout> layout_;  // shared: a copy draws the same shapes
  double advance_ = 0;
  double height_ = 0;
};
/// A label in the system font at `points` and `weight`, its text drawn in `color`.
QLabel* styledLabel(const QString& text, double points, QFont::Weight weight, const QColor& color, QWidget* parent);
/// Recolours a label's text.
void setTextColor(QLabel* label, const QColor& color);
/// Draws `layer` (a picture whose device pixel ratio says how many pixels make a point)
/// with its top left at `at`, over a soft shadow of its own shape: black at `opacity`,
/// blurred over `radius` points and moved by `offset`. A faint layer casts a faint shadow,
/// as a shadow of the layer's own pixels does.
void drawWithShadow(QPainter& painter, const QImage& layer, QPointF at, double opacity, double radius, QPointF offset);
/// Draws a picture scaled into `rect`; nothing for a null or empty picture.
void drawImage(QPainter& painter, const QRectF& rect, const CGImageRef& image, double opacity = 1);

/// The drawn symbols the guide uses, by their system names: "app.fill", "globe",
/// "arrow.right", "cursorarrow". Each fits `rect` in `color`; an unknown name draws nothing
/// and answers false.
bool drawSymbol(QPainter& painter, const std::string& name, const QRectF& rect, const QColor& color);
/// The pointer's outline with its tip at the top left of `rect`, as tall as `rect`.
QPainterPath pointerArrow(const QRectF& rect);
/// A symbol as a picture of `side` points; nothing for an unknown name.
CGImageRef symbolImage(const std::string& name, int side);

}  // namespace trelliq::ui

#include <QRegion>
#include <QWidget>
#include <functional>

#include "ui/model/Transition.h"

namespace trelliq::ui {

/// The display's frame period: what moves is drawn again this often.
inline constexpr double kFrameSeconds = 1.0 / 60;

/// Repaints `area` of `widget` (all of it when empty) once a frame for `seconds` from now,
/// and once more when they are over, so the last frame shows where the move ends; a call
/// while frames run adds its area and may lengthen them. The frames come from a timer on
/// the main queue, never from a paint, and end while the widget is hidden (it draws whole
/// when it shows again). Main thread.
void animateFor(QWidget* widget, double seconds, const QRegion& area = {});

/// A number that moves to a new value over a transition, sampled on the installed clock;
/// setting it asks the widget for the frames of the move (animateFor).
class Tween {
 public:
  explicit Tween(double value = 0) : from_(value), to_(value) {}
  /// Moves towards `target` from where it stands now, repainting `area` of `widget` (all
  /// of it when empty) while it moves.
  void set(double target, const Transition& transition, QWidget* widget, const QRegion& area = {});
  /// The value now.
  double value() const;
  double target() const { return to_; }

 private:
  double from_;
  double to_;
  double start_ = 0;
  Transition transition_;
};

}  // namespace trelliq::ui

#include "switcher/views/LayerHostView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <string>

#include "switcher/views/ScenePainter.h"
#include "switcher/views/SymbolGlyphs.h"

namespace trelliq::views {

namespace {

// Layers are drawn from the animated frames of one node per layer, keyed by position.
std::string keyOf(std::size_t i) { return std::to_string(i); }

QColor argb(std::uint32_t value) {
  return QColor::fromRgba(static_cast<QRgb>(value));  // QRgb is 0xAARRGGBB as well
}

}  // namespace

LayerHostView::LayerHostView(NSWindow& window, std::vector<Layer*> layers)
    : window_(window), layers_(std::move(layers)) {
  setAttribute(Qt::WA_TranslucentBackground);
  animator_.setOnFrame([this] { update(); });
  for (Layer* layer : layers_) {
    if (!layer) continue;
    layer->setOnChange([this, alive = std::weak_ptr<bool>(alive_)](const Layer& changed) {
      if (alive.expired()) return;
      std::optional<Animation> animation;
      if (changed.frameAnimation() > 0) animation = Animation{changed.frameAnimation(), Animation::Curve::easeInOut};
      follow(animation);
    });
  }
  window_.setContentView(this);
  follow(std::nullopt);
}

LayerHostView::~LayerHostView() {
  alive_.reset();
  for (Layer* layer : layers_) {
    if (layer) layer->setOnChange(nullptr);
  }
  if (window_.contentView() == this) window_.setContentView(nullptr);
}

void LayerHostView::follow(const std::optional<Animation>& animation) {
  const CGRect frame = window_.frame();
  const QSize size(static_cast<int>(std::lround(frame.width())), static_cast<int>(std::lround(frame.height())));
  if (this->size() != size) resize(size);
  scene::Node root;
  root.key = "layers";
  root.frame = CGRect(0, 0, frame.width(), frame.height());
  for (std::size_t i = 0; i < layers_.size(); ++i) {
    const Layer* layer = layers_[i];
    scene::Node node;
    node.key = keyOf(i);
    if (layer) {
      CGRect r = layer->frame();
      for (const Layer* super = layer->superlayer(); super; super = super->superlayer()) {
        r.origin.x += super->frame().minX();
        r.origin.y += super->frame().minY();
      }
      node.frame = CGRect(r.minX(), frame.height() - r.maxY(), r.width(), r.height());
      node.opacity = layer->isHidden() ? 0 : std::clamp(layer->alpha(), 0.0, 1.0);
    } else {
      node.opacity = 0;
    }
    // Only moves animate; the rest of a layer's values change at once.
    if (animation) node.transitions.frame = animation;
    root.children.push_back(std::move(node));
  }
  animator_.show(std::move(root), std::nullopt);
  // The window server composes the glass of the window's glass layer behind the content.
  for (const Layer* layer : layers_) {
    if (layer && layer->material() == Layer::Material::glass) window_.setGlassStyle(layer->glassLook().style);
  }
  update();
}

std::vector<std::pair<QRectF, double>> LayerHostView::placed() const {
  std::vector<std::pair<QRectF, double>> out;
  const scene::Node shown = animator_.displayed();
  for (const scene::Node& node : shown.children) {
    out.emplace_back(QRectF(node.frame.origin.x, node.frame.origin.y, node.frame.size.width, node.frame.size.height),
                     node.opacity);
  }
  return out;
}

std::size_t LayerHostView::lowestShown() const {
  const CGRect bounds(0, 0, window_.frame().width(), window_.frame().height());
  if (animator_.isAnimating()) return 0;
  for (std::size_t i = layers_.size(); i-- > 0;) {
    const Layer* layer = layers_[i];
    if (layer && layer->isOpaque() && layer->contents() && !layer->isHidden() && layer->alpha() >= 1 &&
        layer->frame() == bounds && !layer->superlayer() && layer->cornerRadius() <= 0 &&
        layer->gravity() == Layer::Gravity::resize)
      return i;
  }
  return 0;
}

std::optional<double> LayerHostView::neededScale() const {
  const CGRect bounds(0, 0, window_.frame().width(), window_.frame().height());
  // Plain fills look the same at any density; the coarsest kept is half a pixel per point.
  double needed = 0.5;
  for (std::size_t i = lowestShown(); i < layers_.size(); ++i) {
    const Layer* layer = layers_[i];
    if (!layer || layer->isHidden() || layer->alpha() <= 0) continue;
    const bool draws = layer->contents() || (layer->background() >> 24) != 0;
    if (!draws && layer->material() == Layer::Material::none && layer->symbol().name.empty()) continue;
    // Edges, glass and symbols are drawn at the display's pixels; so is all of a window
    // with a layer that moves or covers only part of it.
    if (layer->material() != Layer::Material::none || !layer->symbol().name.empty() || layer->cornerRadius() > 0 ||
        layer->superlayer() || layer->frame() != bounds || animator_.isAnimating())
      return std::nullopt;
    if (const CGImageRef& image = layer->contents(); image && bounds.width() > 0 && bounds.height() > 0)
      needed = std::max({needed, image->width() / bounds.width(), image->height() / bounds.height()});
  }
  if (needed <= 0.5 + 1.0 / 64) return 0.5;
  return std::ceil(needed - 1.0 / 64);
}

void LayerHostView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const auto where = placed();
  for (std::size_t i = lowestShown(); i < layers_.size() && i < where.size(); ++i) {
    const Layer* layer = layers_[i];
    const auto& [rect, alpha] = where[i];
    if (!layer || alpha <= 0 || rect.isEmpty()) continue;
    painter.save();
    painter.setOpacity(alpha);
    const double radius = std::max(0.0, layer->cornerRadius());
    const QPainterPath outline = ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, rect, radius);
    // Plates are laid on as the panels' are: a fill or stroke this large would wake the
    // raster engine's helper threads at every paint.
    const auto plate = [&](const QColor& color) {
      ScenePainter::fillShape(painter, scene::Shape::Kind::roundedRectangle, rect, radius, color);
    };
    // The same materials the panels' glass plates are drawn with.
    if (layer->material() == Layer::Material::haze) plate(ScenePainter::hazeColor());
    if (layer->material() == Layer::Material::glass) {
      plate(ScenePainter::glassColor());
      // The rim catches the light, as the panels' plates do: a line along the inside.
      ScenePainter::strokeInside(painter, scene::Shape::Kind::roundedRectangle, rect, radius, QColor(255, 255, 255, 31),
                                 1);
    }
    if (layer->background() >> 24) plate(argb(layer->background()));
    if (const CGImageRef& image = layer->contents(); image && image->width() > 0 && image->height() > 0) {
      QRectF target = rect;
      if (layer->gravity() == Layer::Gravity::resizeAspect) {
        // Fit the whole picture, centred, keeping its proportions.
        const double scale = std::min(rect.width() / image->width(), rect.height() / image->height());
        const QSizeF fitted(image->width() * scale, image->height() * scale);
        target = QRectF(rect.center().x() - fitted.width() / 2, rect.center().y() - fitted.height() / 2, fitted.width(),
                        fitted.height());
      }
      // Fitted within a point of the layer (its frame is rounded to whole points), the
      // picture is rounded as a tile's is: sampled once for its size and place and kept,
      // then laid on, never clipped and scaled again at every paint.
      const auto near = [](double a, double b) { return std::abs(a - b) < 1; };
      if (near(target.left(), rect.left()) && near(target.top(), rect.top()) && near(target.right(), rect.right()) &&
          near(target.bottom(), rect.bottom())) {
        scene::Picture picture;
        picture.image = image;
        picture.fit = scene::Picture::Fit::stretch;
        picture.cornerRadius = radius;
        ScenePainter::paintPicture(painter, target, picture);
      } else {
        painter.save();
        painter.setClipPath(outline);
        painter.drawImage(target, image->qimage());
        painter.restore();
      }
      // A window's picture, drawn, is in the window's own pixels: a capture shared with the
      // window server need not stay in this program's memory as well.
      image->releaseReadPages();
    }
    if (const Layer::Symbol& symbol = layer->symbol(); !symbol.name.empty()) {
      const QPainterPath glyph = symbolPath(symbol.name, rect, symbol.size, symbol.weight);
      painter.setClipPath(outline);
      ScenePainter::inBands(painter, glyph.boundingRect(), [&] { painter.fillPath(glyph, Qt::white); });
    }
    painter.restore();
  }
}

}  // namespace trelliq::views

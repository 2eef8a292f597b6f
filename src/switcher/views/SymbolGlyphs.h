#pragma once
// The few system symbols the panels show, drawn as vector outlines of our own. Pure
// geometry; any thread.

#include <QPainterPath>
#include <QRectF>
#include <string>

#include "switcher/layout/PanelScene.h"

namespace trelliq::views {

/// The outline to fill for symbol `name` drawn `size` points tall, centred in `frame`;
/// heavier weights draw thicker lines. Empty for a name we have no glyph for.
QPainterPath symbolPath(const std::string& name, const QRectF& frame, double size, scene::Weight weight);

}  // namespace trelliq::views

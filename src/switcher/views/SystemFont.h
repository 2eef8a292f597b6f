#pragma once
// The panels' one typeface: the system font at a point size and weight (one point is one
// pixel of the panel), and the text measure the layout sizes labels with, so that what
// the layout reserves is what the painter draws. Main thread (Qt fonts).

#include <QFont>

#include "switcher/layout/PanelScene.h"

namespace trelliq::views {

/// The system font at `size` points and `weight`.
QFont systemFont(double size, scene::Weight weight);

/// Measures one line in `systemFont`: its advance width and line height.
class FontMeasure : public scene::TextMeasure {
 public:
  CGSize size(const std::string& text, double pointSize, scene::Weight weight) const override;
};

}  // namespace trelliq::views

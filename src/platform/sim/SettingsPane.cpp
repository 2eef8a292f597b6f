#include "platform/sim/SettingsPane.h"

#include <QColor>
#include <QPainter>
#include <algorithm>

#include "platform/WindowFrame.h"
#include "platform/sim/DisplayPicture.h"
#include "platform/sim/WindowChrome.h"

namespace sim {

namespace {

constexpr const char* kPrivacyLinkBase = "x-apple.systempreferences:com.apple.preference.security?";

// The layout, in points from the window's top left.
constexpr double kMargin = 24, kHeadingTop = 44, kGroupTop = 120, kRowHeight = 52;
constexpr double kSwitchWidth = 38, kSwitchHeight = 22, kIconSide = 28;

struct ListText {
  const char* heading;
  const char* detail;
};

ListText textOf(PrivacyList list) {
  if (list == PrivacyList::accessibility)
    return {"Accessibility", "Allow the applications below to control your computer."};
  return {"Screen & System Audio Recording",
          "Allow the applications below to record the content of your screen and audio."};
}

QColor ink(bool dark, double opacity = 1) {
  return dark ? QColor::fromRgbF(1, 1, 1, static_cast<float>(0.88 * opacity))
              : QColor::fromRgbF(0, 0, 0, static_cast<float>(0.85 * opacity));
}

void paintSwitch(QPainter& painter, const QRectF& box, bool on, bool dark) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(on ? QColor(0, 122, 255) : dark ? QColor(80, 80, 84) : QColor(218, 218, 222));
  const double r = box.height() / 2;
  painter.drawRoundedRect(box, r, r);
  const double inset = box.height() * 0.09;
  const double knob = box.height() - 2 * inset;
  const double x = on ? box.right() - inset - knob : box.left() + inset;
  painter.setBrush(QColor(255, 255, 255));
  painter.drawEllipse(QRectF(x, box.top() + inset, knob, knob));
  painter.restore();
}

}  // namespace

std::string privacyAnchor(PrivacyList list) {
  return list == PrivacyList::accessibility ? "Privacy_Accessibility" : "Privacy_ScreenCapture";
}

std::optional<PrivacyList> privacyListWithAnchor(const std::string& anchor) {
  for (PrivacyList list : {PrivacyList::accessibility, PrivacyList::screenCapture})
    if (anchor == privacyAnchor(list)) return list;
  return std::nullopt;
}

std::optional<PrivacyList> privacyListOf(const std::string& url) {
  const std::string base = kPrivacyLinkBase;
  if (!url.starts_with(base)) return std::nullopt;
  return privacyListWithAnchor(url.substr(base.size()));
}

CGRect paneSwitch(const CGRect& window) {
  return CGRect(window.maxX() - kMargin - 14 - kSwitchWidth,
                window.minY() + kGroupTop + (kRowHeight - kSwitchHeight) / 2, kSwitchWidth, kSwitchHeight);
}

void paintPane(QPainter& painter, const PaneLook& pane, const QRectF& area, double scale, bool dark) {
  const ListText text = textOf(pane.list);
  const double width = area.width() / scale;
  auto px = [scale](double x, double y, double w, double h) {
    return QRectF(x * scale, y * scale, w * scale, h * scale);
  };
  // The window's background in the appearance, below the title bar.
  const double bar = platform::kTitleBarHeight * scale;
  painter.fillRect(QRectF(0, bar, area.width(), std::max(0.0, area.height() - bar)),
                   dark ? QColor(0x28, 0x28, 0x2A) : QColor(0xEC, 0xEC, 0xEC));
  drawLabel(painter, text.heading, px(kMargin, kHeadingTop, width - 2 * kMargin, 26), systemFont(19 * scale, true),
            ink(dark).rgba(), Qt::AlignLeft | Qt::AlignVCenter);
  drawLabel(painter, text.detail, px(kMargin, kHeadingTop + 32, width - 2 * kMargin, 20), systemFont(12 * scale),
            ink(dark, 0.6).rgba(), Qt::AlignLeft | Qt::AlignVCenter);
  // The list: one rounded group holding the program's row.
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 25), std::max(1.0, scale / 2)));
  painter.setBrush(dark ? QColor(44, 44, 46) : QColor(255, 255, 255));
  painter.drawRoundedRect(px(kMargin, kGroupTop, width - 2 * kMargin, kRowHeight), 8 * scale, 8 * scale);
  painter.restore();
  paintIcon(painter, px(kMargin + 14, kGroupTop + (kRowHeight - kIconSide) / 2, kIconSide, kIconSide), pane.program,
            pane.iconColor);
  drawLabel(painter, pane.program, px(kMargin + 14 + kIconSide + 12, kGroupTop, width / 2, kRowHeight),
            systemFont(13 * scale), ink(dark).rgba(), Qt::AlignLeft | Qt::AlignVCenter);
  const CGRect s = paneSwitch(CGRect(0, 0, width, area.height() / scale));
  paintSwitch(painter, px(s.minX(), s.minY(), s.width(), s.height()), pane.on, dark);
}

}  // namespace sim

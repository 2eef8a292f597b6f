#pragma once
// The row of key caps joined by plus signs under a demonstration, in a fixed order with
// the modifiers named under their symbols, drawn enlarged. Main thread only.

#include <QWidget>
#include <optional>
#include <set>
#include <string>

#include "guide/GuidePaint.h"
#include "guide/model/KeyRow.h"
#include "guide/model/Transition.h"

namespace trelliq {

class InlineKeys : public QWidget {
 public:
  InlineKeys(std::set<std::string> keys, std::set<std::string> held, std::optional<std::string> pressed,
             std::string first = "⌘", QWidget* parent = nullptr);

  /// Changes which keys are held and pressed; each cap lights or dims over `transition`.
  void setState(std::set<std::string> held, std::optional<std::string> pressed,
                const Transition& transition = Transition::immediate());
  /// How lit cap `index` is drawn now, 0 to 1.
  double litness(std::size_t index) const;
  /// The caps as drawn, in order.
  const std::vector<KeyRow::Item>& items() const { return items_; }

  /// The row's unscaled width: caps and plus signs 8 points apart.
  double contentWidth() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void rebuild(const Transition& transition);
  std::set<std::string> keys_;
  std::set<std::string> held_;
  std::optional<std::string> pressed_;
  std::string first_;
  std::vector<KeyRow::Item> items_;
  std::vector<guide::Tween> lit_;
};

}  // namespace trelliq

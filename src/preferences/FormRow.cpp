#include "preferences/FormRow.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/Paint.h"

namespace trelliq {

FormRow::FormRow(const std::string& title, const std::vector<std::string>& subtitle, QWidget* control,
                 QWidget* parent)
    : QWidget(parent), control_(control) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 6, 10, 6);
  label_ = new QVBoxLayout();
  label_->setSpacing(1);
  // Stretches above and below keep the lines together, centred beside a taller control.
  label_->addStretch(1);
  titleLine_ = new QHBoxLayout();
  titleLine_->setSpacing(3);
  title_ = new QLabel(QString::fromStdString(title), this);
  title_->setFont(ui::systemFont(kTitleSize));
  title_->setWordWrap(true);
  // The title takes the line's spare width so it wraps only when it cannot fit.
  titleLine_->addWidget(title_, 1);
  titleLine_->addStretch(0);
  label_->addLayout(titleLine_);
  label_->addStretch(1);
  row->addLayout(label_, 1);
  setSubtitle(subtitle);
  if (control_) row->addWidget(control_, 0, Qt::AlignRight | Qt::AlignVCenter);
}

std::string FormRow::title() const { return title_->text().toStdString(); }

std::vector<std::string> FormRow::subtitle() const {
  std::vector<std::string> text;
  for (const QLabel* line : lines_) text.push_back(line->text().toStdString());
  return text;
}

void FormRow::setSubtitle(const std::vector<std::string>& lines) {
  while (lines_.size() > lines.size()) {
    delete lines_.back();
    lines_.pop_back();
  }
  while (lines_.size() < lines.size()) {
    auto* line = new QLabel(this);
    line->setFont(ui::systemFont(kSubtitleSize));
    line->setWordWrap(true);
    ui::setTextColor(line, ui::secondary());
    label_->insertWidget(label_->count() - 1, line);
    lines_.push_back(line);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) lines_[i]->setText(QString::fromStdString(lines[i]));
}

void FormRow::addTitleAccessory(QWidget* widget) {
  widget->setParent(this);
  titleLine_->insertWidget(titleLine_->count() - 1, widget, 0, Qt::AlignVCenter);
  // Accessories follow the title directly; the spare width goes after them.
  titleLine_->setStretchFactor(title_, 0);
  titleLine_->setStretch(titleLine_->count() - 1, 1);
  title_->setWordWrap(false);
}

FormSection::FormSection(const std::string& title, QWidget* parent) : QWidget(parent), title_(title) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  header_ = new QHBoxLayout();
  auto* heading = new QLabel(QString::fromStdString(title), this);
  heading->setFont(ui::systemFont(FormRow::kTitleSize, QFont::Bold));
  header_->addWidget(heading);
  header_->addStretch(1);
  column->addLayout(header_);
  group_ = new QWidget(this);
  groupLayout_ = new QVBoxLayout(group_);
  groupLayout_->setContentsMargins(0, 4, 0, 4);
  groupLayout_->setSpacing(0);
  column->addWidget(group_);
}

void FormSection::addRow(QWidget* row) {
  row->setParent(group_);
  groupLayout_->addWidget(row);
  rows_.push_back(row);
}

std::vector<QWidget*> FormSection::shownRows() const {
  std::vector<QWidget*> shown;
  for (QWidget* row : rows_) {
    if (!row->isHidden()) shown.push_back(row);
  }
  return shown;
}

void FormSection::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF group = QRectF(group_->geometry());
  ui::fillRounded(painter, group, 8, QColor::fromRgbF(0, 0, 0, 0.03f));
  ui::strokeRoundedInside(painter, group, 8, ui::separator(), 1);
}

}  // namespace trelliq

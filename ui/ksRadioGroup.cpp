#include "ksRadioGroup.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFontMetrics>
#include <QRadioButton>

TksRadioGroup::TksRadioGroup(QWidget* parent) : QGroupBox(parent), group_(new QButtonGroup(this)) {
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) emit ItemIndexChanged(id);
  });
}

void TksRadioGroup::setItems(const QStringList& items) {
  qDeleteAll(buttons_);
  buttons_.clear();
  items_ = items;
  for (int i = 0; i < items_.size(); ++i) {
    auto* button = new QRadioButton(items_[i], this);
    group_->addButton(button, i);
    buttons_.append(button);
    button->show();
  }
  ArrangeButtons();
}

void TksRadioGroup::setColumns(int columns) {
  columns_ = columns < 1 ? 1 : columns;
  ArrangeButtons();
}

int TksRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TksRadioGroup::setItemIndex(int index) {
  if (index >= 0 && index < buttons_.size()) {
    buttons_[index]->setChecked(true);
    return;
  }
  // An exclusive group never lets the last checked button go; clearing needs a pause.
  if (QAbstractButton* checked = group_->checkedButton()) {
    group_->setExclusive(false);
    checked->setChecked(false);
    group_->setExclusive(true);
  }
}

void TksRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  ArrangeButtons();
}

void TksRadioGroup::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) ArrangeButtons();
}

void TksRadioGroup::ArrangeButtons() {
  if (buttons_.isEmpty()) return;
  // Below the caption line the height is shared evenly by the rows; the rest of the
  // division goes half above the first row.
  const int count = static_cast<int>(buttons_.size());
  const int perColumn = (count + columns_ - 1) / columns_;
  const int buttonWidth = (width() - 10) / columns_;
  const int textHeight = QFontMetrics(font()).height();
  const int free = height() - textHeight - 5;
  const int buttonHeight = free / perColumn;
  const int topMargin = textHeight + 1 + (free % perColumn) / 2;
  for (int i = 0; i < count; ++i)
    buttons_[i]->setGeometry((i / perColumn) * buttonWidth + 8, (i % perColumn) * buttonHeight + topMargin,
                             buttonWidth, buttonHeight);
}

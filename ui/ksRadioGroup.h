// A group box holding one exclusive choice among text items, laid out in columns the
// way the item list is filled: top to bottom, then the next column.
#pragma once
#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TksRadioGroup : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(QStringList items READ Items WRITE setItems)
  Q_PROPERTY(int columns READ Columns WRITE setColumns)
  Q_PROPERTY(int itemIndex READ ItemIndex WRITE setItemIndex)

 public:
  explicit TksRadioGroup(QWidget* parent = nullptr);

  QStringList Items() const { return items_; }
  void setItems(const QStringList& items);
  int Columns() const { return columns_; }
  void setColumns(int columns);
  // The checked item, -1 when none is.
  int ItemIndex() const;
  void setItemIndex(int index);
  const QList<QRadioButton*>& Buttons() const { return buttons_; }

 signals:
  void ItemIndexChanged(int index);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ArrangeButtons();
  QStringList items_;
  int columns_ = 1;
  QButtonGroup* group_;
  QList<QRadioButton*> buttons_;
};

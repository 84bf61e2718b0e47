// FlowLayout: widgets side by side at their size hints, wrapping onto the
// next line where the width runs out, so a row of buttons stays whole in a
// narrow window instead of squeezing each one's text.
#pragma once

#include <QLayout>
#include <QList>

namespace orvento {

class FlowLayout : public QLayout {
  public:
    explicit FlowLayout(int spacing = 6);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override { return items_.value(index); }
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

  private:
    // Lays the visible items out in `rect` (moving them when `place`); the
    // height they take.
    int arrange(const QRect& rect, bool place) const;

    QList<QLayoutItem*> items_;
};

}  // namespace orvento

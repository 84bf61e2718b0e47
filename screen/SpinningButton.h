// The play/stop button: a round image that can turn about its centre.
//
// It carries at most one animation, a rotation, the way a view's layer
// carries animations: addRotationAnimation starts one turn, removeAllAnimations
// ends it early, and every animation's end is reported once through
// animationDidStop — finished = true for a turn that ran to its end (the
// handler may start the next turn), false for one removed early (reported
// before removeAllAnimations returns). Between turns the image rests upright.
//
// The image is drawn from a resource path; a "@2x" file beside it is used on
// high-DPI screens. A keyboard user reaches the button with Tab and presses it
// with Space, Return or Enter; focus that came from the keyboard is shown as a
// ring around it.
//
// Main thread only, like every widget.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QString>
#include <chrono>

class QVariantAnimation;

namespace orvento {

class SpinningButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit SpinningButton(QWidget* parent = nullptr);

    // Shows the image at `path` (e.g. ":/images/playbutton.png").
    void setImage(const QString& path);
    // The file name of the image shown ("playbutton.png"); empty before the first.
    QString imageName() const { return imageName_; }

    // One rotation about the centre from `from` to `to` radians in
    // `duration`, at constant speed. An animation already running is removed
    // first (and reported as not finished).
    void addRotationAnimation(float from, float to, std::chrono::milliseconds duration);
    // Ends the running animation, if any: the image stands upright again.
    void removeAllAnimations();
    bool hasAnimations() const { return rotation_ != nullptr; }
    // The angle shown now, in radians.
    double angle() const { return angle_; }

    QSize sizeHint() const override;

  signals:
    void animationDidStop(bool finished);
    // The image changed to the file `name` (see imageName).
    void imageChanged(const QString& name);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void turnCompleted();

    QIcon image_;
    QString imageName_;
    QVariantAnimation* rotation_ = nullptr;  // child; null while not turning
    double angle_ = 0;                       // radians
    bool showFocusRing_ = false;             // focused from the keyboard
};

}  // namespace orvento

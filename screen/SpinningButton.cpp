#include "screen/SpinningButton.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <numbers>
#include <utility>

namespace orvento {
namespace {

constexpr int kImageSide = 120;  // logical pixels; the @2x file has twice as many
constexpr int kRingGap = 5;      // room around the image for the focus ring
constexpr QColor kFocusRing{0x3d, 0xdc, 0xbc};

}  // namespace

SpinningButton::SpinningButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SpinningButton::sizeHint() const {
    const int side = kImageSide + 2 * kRingGap;
    return {side, side};
}

void SpinningButton::setImage(const QString& path) {
    image_ = QIcon(path);
    imageName_ = QFileInfo(path).fileName();
    update();
    emit imageChanged(imageName_);
}

void SpinningButton::addRotationAnimation(float from, float to,
                                          std::chrono::milliseconds duration) {
    removeAllAnimations();
    rotation_ = new QVariantAnimation(this);
    rotation_->setStartValue(static_cast<double>(from));
    rotation_->setEndValue(static_cast<double>(to));
    rotation_->setDuration(static_cast<int>(duration.count()));
    rotation_->setEasingCurve(QEasingCurve::Linear);
    connect(rotation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        angle_ = value.toDouble();
        update();
    });
    connect(rotation_, &QAbstractAnimation::finished, this, &SpinningButton::turnCompleted);
    rotation_->start();
}

void SpinningButton::removeAllAnimations() {
    if (rotation_ == nullptr) {
        return;
    }
    QVariantAnimation* removed = std::exchange(rotation_, nullptr);
    removed->disconnect(this);
    removed->stop();
    removed->deleteLater();
    angle_ = 0;
    update();
    emit animationDidStop(false);
}

void SpinningButton::turnCompleted() {
    // Detach first: the handler may start the next turn.
    QVariantAnimation* done = std::exchange(rotation_, nullptr);
    done->disconnect(this);
    done->deleteLater();
    angle_ = 0;
    update();
    emit animationDidStop(true);
}

void SpinningButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SpinningButton::focusInEvent(QFocusEvent* event) {
    showFocusRing_ = event->reason() == Qt::TabFocusReason ||
                     event->reason() == Qt::BacktabFocusReason ||
                     event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

void SpinningButton::focusOutEvent(QFocusEvent* event) {
    showFocusRing_ = false;
    QAbstractButton::focusOutEvent(event);
}

void SpinningButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QPointF centre = QRectF(rect()).center();
    const qreal side = std::min(width(), height()) - 2.0 * kRingGap;

    if (showFocusRing_ && hasFocus()) {
        painter.setPen(QPen(kFocusRing, 2.5));
        painter.setBrush(Qt::NoBrush);
        const qreal r = side / 2 + kRingGap - 2;
        painter.drawEllipse(centre, r, r);
    }

    if (image_.isNull()) {
        return;
    }
    const auto pixels = static_cast<int>(side);
    const QPixmap pixmap = image_.pixmap(QSize(pixels, pixels), devicePixelRatioF(),
                                         isEnabled() ? QIcon::Normal : QIcon::Disabled);
    painter.translate(centre);
    painter.rotate(angle_ * 180.0 / std::numbers::pi);
    if (isDown()) {
        painter.scale(0.96, 0.96);
    }
    painter.drawPixmap(QRectF(-side / 2, -side / 2, side, side), pixmap, QRectF(pixmap.rect()));
}

}  // namespace orvento

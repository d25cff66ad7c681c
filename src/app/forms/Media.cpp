#include "app/forms/Media.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVideoFrame>
#include <QVideoSink>

namespace pictor {

// ---- TVideoView ----

TVideoView::TVideoView(QWidget* parent) : QWidget(parent), FSink(new QVideoSink(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(FSink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        // An invalid frame ends a stream; the last picture stays until Clear().
        if (!frame.isValid()) return;
        QImage image = frame.toImage();
        if (image.isNull()) return;
        const QSize before = FFrame.size();
        FFrame = std::move(image);
        update();
        if (FFrame.size() != before && OnVideoSize) OnVideoSize(FFrame.size());
    });
}

void TVideoView::Clear() {
    FFrame = QImage();
    update();
}

void TVideoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (FFrame.isNull()) return;
    QSize shown = FFrame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, FFrame);
}

// ---- TTrackBar ----

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    connect(this, &QSlider::sliderMoved, this, [this] {
        if (OnTrack) OnTrack();
    });
}

TTrackBarGeometry TTrackBar::Geometry() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // Right edges are exclusive, as the jump arithmetic expects.
    return {thumb.left(),  thumb.left() + thumb.width(),
            groove.left(), groove.left() + groove.width(),
            thumb.width(), minimum(),
            maximum()};
}

void TTrackBar::BeginScroll() {
    if (FScrolling) return;
    FScrolling = true;
    if (OnScrollBegin) OnScrollBegin();
}

void TTrackBar::EndScroll() {
    if (!FScrolling) return;
    FScrolling = false;
    if (OnScrollEnd) OnScrollEnd();
}

void TTrackBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        BeginScroll();
        const int x = qRound(event->position().x());
        if (const std::optional<int> jump = TrackBarJumpPosition(Geometry(), x)) {
            setValue(*jump);
            if (OnJump) OnJump(value());
        }
    }
    // With the thumb now under the mouse, the slider takes the press as the start of a drag.
    QSlider::mousePressEvent(event);
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) EndScroll();
}

void TTrackBar::keyPressEvent(QKeyEvent* event) {
    const int before = value();
    QSlider::keyPressEvent(event);
    if (event->isAccepted() && value() != before) BeginScroll();
}

void TTrackBar::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (!event->isAutoRepeat() && !isSliderDown()) EndScroll();
}

void TTrackBar::wheelEvent(QWheelEvent* event) {
    if (isSliderDown()) return QSlider::wheelEvent(event);
    BeginScroll();
    QSlider::wheelEvent(event);
    EndScroll();
}

// ---- TMediaForm ----

namespace {
// The window's size until the video's own size is known.
constexpr int DesignWidth = 320, DesignHeight = 240;
} // namespace

TMediaForm::TMediaForm(QWidget* owner, TVideoView* video)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint), FVideo(video) {
    setObjectName("MediaForm");
    setWindowTitle(QStringLiteral("Media"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(DesignWidth, DesignHeight);
    if (owner) move(owner->geometry().center() - rect().center());
    FVideo->setParent(this);
    FVideo->setGeometry(0, 0, width(), height());
    FVideo->show();
}

void TMediaForm::FitToVideo(QSize videoSize) {
    if (FFitted || videoSize.isEmpty()) return;
    FFitted = true;
    // A video larger than the screen is shown smaller, keeping its proportions.
    if (QScreen* screen = this->screen()) {
        const QSize room = screen->availableGeometry().size();
        if (!room.isEmpty() &&
            (videoSize.width() > room.width() || videoSize.height() > room.height()))
            videoSize = videoSize.scaled(room, Qt::KeepAspectRatio);
    }
    resize(videoSize);
    if (QWidget* owner = parentWidget()) move(owner->geometry().center() - rect().center());
}

void TMediaForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FVideo && FVideo->parent() == this) FVideo->setGeometry(0, 0, width(), height());
}

void TMediaForm::closeEvent(QCloseEvent* event) {
    if (OnClose) OnClose();
    event->accept();
}

} // namespace pictor

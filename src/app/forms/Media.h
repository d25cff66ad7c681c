#pragma once

// The pieces of the media preview: the video surface, the position bar and the media window.

#include "app/PreviewLogic.h"

#include <QImage>
#include <QSlider>
#include <QWidget>

#include <functional>

class QVideoSink;

namespace pictor {

// Draws the frames a media player sends to its video sink, scaled to fit and centred on
// black. Painting the frames ourselves keeps the video grabbable and lets it work on any
// platform plug-in, the off-screen one included.
class TVideoView : public QWidget {
public:
    explicit TVideoView(QWidget* parent = nullptr);
    QVideoSink* Sink() const { return FSink; }
    // The frames' size (the video's natural size); empty until the first frame arrives.
    QSize VideoSize() const { return FFrame.size(); }
    // Forgets the last frame (a new source starts from black).
    void Clear();
    // Called once per change of the frame size, after the frame is stored.
    std::function<void(QSize)> OnVideoSize;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVideoSink* FSink;
    QImage FFrame;
};

// The media position bar. A press beside the thumb first jumps the thumb under the mouse, so
// the press goes on as a drag of the thumb. The owner hears of each step of a scroll: its
// beginning (mouse press, key press, wheel), a jump, each move of a drag, and its end.
class TTrackBar : public QSlider {
public:
    explicit TTrackBar(QWidget* parent = nullptr);
    std::function<void()> OnScrollBegin;
    std::function<void(int position)> OnJump;
    std::function<void()> OnTrack;
    std::function<void()> OnScrollEnd;
    // The thumb and channel as the style draws them now, in client coordinates.
    TTrackBarGeometry Geometry() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void BeginScroll();
    void EndScroll();
    bool FScrolling = false;
};

// The media window: an always-on-top window in which a video plays at its natural size.
// It frees itself when closed; OnClose runs first, to take the video back.
class TMediaForm : public QWidget {
public:
    // Centred on owner, which also owns the window.
    TMediaForm(QWidget* owner, TVideoView* video);
    // Sizes the client area to the video, once: the first non-empty size wins, later ones
    // (and the user's own resizing) are left alone. The frame and title bar are drawn by the
    // window manager outside the client area, so no caption height is added.
    void FitToVideo(QSize videoSize);
    bool Fitted() const { return FFitted; }
    std::function<void()> OnClose;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TVideoView* FVideo;
    bool FFitted = false;
};

} // namespace pictor

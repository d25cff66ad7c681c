// The media preview of the main window: the player bar, the position bar, the video in the
// panel and the media window.
#include "app/PreviewLogic.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "app/forms/Media.h"
#include "core/Exception.h"
#include "shell/forms/ShellListView.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace pictor {

namespace {

int ToBarValue(qint64 milliseconds) {
    return int(std::clamp<qint64>(milliseconds, 0, INT_MAX));
}

// The step and back buttons move by one frame; without a known frame rate, by 1/25 s.
qint64 FrameMilliseconds(const QMediaPlayer& player) {
    const double rate = player.metaData().value(QMediaMetaData::VideoFrameRate).toDouble();
    return rate > 0.5 ? std::max<qint64>(1, qRound64(1000.0 / rate)) : 40;
}

} // namespace

void TMainForm::CreateMediaControls() {
    MediaPlayer = new QWidget(Panel);
    MediaPlayer->setObjectName("MediaPlayer");
    MediaPlayer->setGeometry(2, 404, 197, 20);
    struct Row {
        QPushButton*& Slot;
        TMediaButton Button;
        QStyle::StandardPixmap Icon;
        const char* Name;
        const char* Tip;
    };
    const Row rows[] = {
        {MediaPlay, TMediaButton::Play, QStyle::SP_MediaPlay, "MediaPlay", "再生"},
        {MediaPause, TMediaButton::Pause, QStyle::SP_MediaPause, "MediaPause", "一時停止"},
        {MediaStop, TMediaButton::Stop, QStyle::SP_MediaStop, "MediaStop", "停止"},
        {MediaNext, TMediaButton::Next, QStyle::SP_MediaSkipForward, "MediaNext", "最後へ"},
        {MediaPrev, TMediaButton::Prev, QStyle::SP_MediaSkipBackward, "MediaPrev", "最初へ"},
        {MediaStep, TMediaButton::Step, QStyle::SP_MediaSeekForward, "MediaStep", "コマ送り"},
        {MediaBack, TMediaButton::Back, QStyle::SP_MediaSeekBackward, "MediaBack", "コマ戻し"},
    };
    int x = 0;
    for (const Row& row : rows) {
        // Seven buttons share the 197 pixels; the last takes the odd one.
        const int width = row.Button == TMediaButton::Back ? 197 - x : 28;
        auto* button = new QPushButton(MediaPlayer);
        button->setObjectName(row.Name);
        button->setToolTip(QString::fromUtf8(row.Tip));
        button->setIcon(style()->standardIcon(row.Icon));
        button->setIconSize(QSize(12, 12));
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(x, 0, width, 20);
        x += width;
        row.Slot = button;
        const TMediaButton which = row.Button;
        connect(button, &QPushButton::clicked, this,
                [this, which] { TApplication::Guard([this, which] { MediaPlayerClick(which); }); });
    }
    MediaPlayer->hide();

    auto* bar = new TTrackBar(Panel);
    TrackBar = bar;
    bar->setObjectName("TrackBar");
    bar->setGeometry(2, 384, 200, 17);
    bar->setTickPosition(QSlider::NoTicks);
    bar->setRange(0, 100);
    bar->setPageStep(0); // a click beside the thumb jumps instead of paging
    bar->hide();
    TrackBarS = new QSlider(Qt::Horizontal, Panel);
    TrackBarS->setObjectName("TrackBarS");
    TrackBarS->setGeometry(48, 432, 129, 17);
    TrackBarS->hide();
    // The pending seek counts in the bar's units, so it takes the bar's range.
    connect(TrackBar, &QSlider::rangeChanged, TrackBarS, &QSlider::setRange);
    TrackBarS->setRange(0, 100);

    Player = new QMediaPlayer(this);
    if (!QMediaDevices::audioOutputs().isEmpty()) Player->setAudioOutput(new QAudioOutput(Player));
    Video = new TVideoView(Panel);
    Video->setObjectName("Video");
    Video->hide();
    Player->setVideoSink(Video->Sink());

    MTimer = new QTimer(this);
    MTimer->setInterval(200);
    Timer = new QTimer(this);
    Timer->setInterval(300);
    Timer->setSingleShot(true);
    connect(MTimer, &QTimer::timeout, this,
            [this] { TApplication::Guard([this] { MTimerTimer(); }); });
    connect(Timer, &QTimer::timeout, this,
            [this] { TApplication::Guard([this] { TimerTimer(); }); });

    // The following of playback pauses while the user moves the bar.
    bar->OnScrollBegin = [this] { MTimer->stop(); };
    bar->OnJump = [this](int position) { TrackBarS->setValue(position); };
    bar->OnTrack = [this] { Timer->start(); };
    bar->OnScrollEnd = [this] { TApplication::Guard([this] { TrackBarScrollEnd(); }); };

    // The bar counts milliseconds; its range is the media's length once the backend knows it.
    connect(Player, &QMediaPlayer::durationChanged, this, [this](qint64 duration) {
        if (duration <= 0) return;
        TrackBar->setMaximum(ToBarValue(duration));
    });
    connect(Player, &QMediaPlayer::hasVideoChanged, this, [this](bool hasVideo) {
        if (Video->parentWidget() == Panel) Video->setVisible(hasVideo && !MediaPlayer->isHidden());
    });
    // The window sizes itself to the video as soon as that size is known: from the stream's
    // description, or else from the first frame.
    connect(Player, &QMediaPlayer::metaDataChanged, this, [this] {
        if (MediaForm)
            MediaForm->FitToVideo(Player->metaData().value(QMediaMetaData::Resolution).toSize());
    });
    Video->OnVideoSize = [this](QSize size) {
        if (MediaForm) MediaForm->FitToVideo(size);
    };
    connect(Player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString& text) {
                // Errors of a source already closed are of no interest.
                if (error == QMediaPlayer::NoError || Player->source().isEmpty()) return;
                TApplication::ShowException(QStringLiteral("メディアを再生できません: %1\n%2")
                                                .arg(Player->source().toLocalFile(), text));
            });
}

void TMainForm::CloseMedia() {
    if (!Player) return;
    if (MediaForm) MediaForm->close(); // gives the video back to the panel
    MTimer->stop();
    Timer->stop();
    Player->stop();
    Player->setSource(QUrl());
    Video->Clear();
    Video->hide();
    MediaPlayer->hide();
    TrackBar->hide();
}

void TMainForm::ShowMedia(const std::string& path) {
    const QString file = QFile::decodeName(path.c_str());
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable())
        throw EInOutError(FormatMessage("メディアファイルを開けません: \"%s\"", {path}));
    const TMediaControls controls = MediaControlsFor(path);
    MediaPlayer->setVisible(controls.Player);
    TrackBar->setVisible(controls.TrackBar);
    // The video covers the picture box and the panel's width; it shows once the backend
    // finds a picture stream.
    Video->Clear();
    Video->setGeometry(Image->x(), Image->y(), Panel->width(), 150);
    Video->raise();
    Player->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    Player->setPosition(0);
    TrackBar->setValue(0);
    if (controls.PictorButton) bPictor->show();
}

void TMainForm::MediaPlayerClick(TMediaButton button) {
    switch (button) {
    case TMediaButton::Play:
        if (Player->duration() > 0) TrackBar->setMaximum(ToBarValue(Player->duration()));
        Timer->start();
        MTimer->start();
        Player->play();
        break;
    case TMediaButton::Pause:
        MTimer->start();
        // The button toggles: a second press goes on playing.
        if (Player->playbackState() == QMediaPlayer::PausedState)
            Player->play();
        else if (Player->playbackState() == QMediaPlayer::PlayingState)
            Player->pause();
        break;
    case TMediaButton::Stop:
        Player->setPosition(0);
        TrackBar->setValue(0);
        Player->stop();
        break;
    case TMediaButton::Next:
        TrackBar->setValue(TrackBar->maximum());
        Player->setPosition(Player->duration());
        break;
    case TMediaButton::Prev:
        TrackBar->setValue(0);
        Player->setPosition(0);
        break;
    case TMediaButton::Step:
    case TMediaButton::Back: {
        TrackBar->setValue(ToBarValue(Player->position()));
        // One frame on or back, leaving playback paused there.
        if (Player->playbackState() == QMediaPlayer::PlayingState) Player->pause();
        const qint64 frame = FrameMilliseconds(*Player);
        const qint64 target = Player->position() + (button == TMediaButton::Step ? frame : -frame);
        Player->setPosition(std::clamp<qint64>(target, 0, std::max<qint64>(0, Player->duration())));
        break;
    }
    }
}

void TMainForm::MTimerTimer() {
    if (Player->playbackState() == QMediaPlayer::PlayingState) {
        TrackBar->setValue(ToBarValue(Player->position()));
        return;
    }
    ShellListView->setFocus();
    MTimer->stop();
}

void TMainForm::TimerTimer() {
    Timer->stop();
    TrackBarS->setValue(TrackBar->value());
}

void TMainForm::TrackBarScrollEnd() {
    Timer->stop();
    TrackBarS->setValue(TrackBar->value());
    const bool playing = Player->playbackState() == QMediaPlayer::PlayingState;
    Player->setPosition(TrackBarS->value());
    if (playing) Player->play();
    MTimer->start();
}

void TMainForm::OpenMediaWindow() {
    if (MediaForm) {
        MediaForm->raise();
        MediaForm->activateWindow();
        return;
    }
    // The video moves to the window and starts over from the beginning.
    Player->stop();
    auto* form = new TMediaForm(this, Video);
    MediaForm = form;
    connect(form, &QObject::destroyed, this, [this, form] {
        if (MediaForm == form) MediaForm = nullptr;
    });
    form->OnClose = [this] {
        MediaForm = nullptr;
        Player->stop();
        Video->setParent(Panel);
        Video->setGeometry(Image->x(), Image->y(), Panel->width(), 150);
        Video->setVisible(Player->hasVideo() && !MediaPlayer->isHidden());
        Video->raise();
        TrackBar->setValue(0);
    };
    form->show();
    QSize natural = Video->VideoSize();
    if (natural.isEmpty()) natural = Player->metaData().value(QMediaMetaData::Resolution).toSize();
    form->FitToVideo(natural);
    TrackBar->setValue(0);
}

} // namespace pictor

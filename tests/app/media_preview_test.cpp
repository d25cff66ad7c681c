#include "app/ErrorRecorder.h"
#include "app/PreviewLogic.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "app/forms/Media.h"
#include "core/Exception.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QMediaPlayer>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

void Put(std::string& s, std::uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

// 300 ms of 16-bit mono silence at 8000 Hz.
std::string SilentWav() {
    const std::uint32_t data = 2400 * 2;
    std::string s = "RIFF";
    Put(s, 36 + data);
    s += "WAVEfmt ";
    Put(s, 16), Put(s, 1, 2), Put(s, 1, 2), Put(s, 8000), Put(s, 16000), Put(s, 2, 2),
        Put(s, 16, 2);
    s += "data";
    Put(s, data);
    s.append(data, '\0');
    return s;
}

// A motion-JPEG AVI of `frames` frames, 160 × 120 at 10 frames a second, each frame one colour.
std::string TinyAvi(int frames) {
    const int w = 160, h = 120;
    std::vector<QByteArray> jpegs;
    for (int i = 0; i < frames; ++i) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 360 / frames % 360, 200, 220));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 80);
        if (bytes.size() % 2) bytes.append('\0');
        jpegs.push_back(bytes);
    }
    auto chunk = [](const std::string& id, const std::string& body) {
        std::string c = id;
        Put(c, std::uint32_t(body.size()));
        return c + body;
    };
    std::string avih;
    for (std::uint32_t v : {100000u, 0u, 0u, 0x10u, std::uint32_t(frames), 0u, 1u, 0u,
                            std::uint32_t(w), std::uint32_t(h), 0u, 0u, 0u, 0u})
        Put(avih, v);
    std::string strh = "vidsMJPG";
    for (std::uint32_t v : {0u, 0u, 0u, 1u, 10u, 0u, std::uint32_t(frames), 0u, 0xFFFFFFFFu, 0u})
        Put(strh, v);
    Put(strh, 0, 2), Put(strh, 0, 2), Put(strh, w, 2), Put(strh, h, 2);
    std::string strf;
    Put(strf, 40), Put(strf, w), Put(strf, h), Put(strf, 1, 2), Put(strf, 24, 2);
    strf += "MJPG";
    Put(strf, w * h * 3), Put(strf, 0), Put(strf, 0), Put(strf, 0), Put(strf, 0);
    const std::string strl = chunk("LIST", "strl" + chunk("strh", strh) + chunk("strf", strf));
    const std::string hdrl = chunk("LIST", "hdrl" + chunk("avih", avih) + strl);
    std::string movi = "movi", idx;
    for (const QByteArray& j : jpegs) {
        idx += "00dc";
        Put(idx, 0x10), Put(idx, std::uint32_t(movi.size())), Put(idx, std::uint32_t(j.size()));
        movi += chunk("00dc", j.toStdString());
    }
    return chunk("RIFF", "AVI " + hdrl + chunk("LIST", movi) + chunk("idx1", idx));
}

struct MediaPanel : ::testing::Test {
    TempDir dir;
    ErrorRecorder errors;
    std::unique_ptr<TMainForm> form;
    std::string wav, avi;
    void SetUp() override {
        TMainFormOptions o;
        o.SettingsPath = (dir.path / "pictor.ini").string();
        o.MediaProbe = [] { return TMediaSupport{true, true}; };
        o.OsVersion = TOsVersion{6, 1, 0};
        o.AppDir = o.SystemDir = o.WindowsDir = (dir.path / "none").string();
        form = std::make_unique<TMainForm>(o);
        form->show();
        wav = (dir.path / "tone.wav").string();
        avi = (dir.path / "clip.AVI").string();
        std::ofstream(wav, std::ios::binary) << SilentWav();
        std::ofstream(avi, std::ios::binary) << TinyAvi(20);
    }
    void TearDown() override { form->ResetPreview(); }
    // Waits for the backend to load the shown file; false when it cannot (no plug-ins).
    bool Loaded() {
        (void)QTest::qWaitFor(
            [&] {
                const auto s = form->Player->mediaStatus();
                return s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::InvalidMedia;
            },
            10000);
        return form->Player->mediaStatus() == QMediaPlayer::LoadedMedia;
    }
    void Press(QSlider* bar, QEvent::Type type, int x) {
        const QPointF at(x, bar->height() / 2);
        const bool up = type == QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, bar->mapToGlobal(at), Qt::LeftButton,
                          up ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    }
};

} // namespace

TEST_F(MediaPanel, ShowAndCloseDecideWhatIsVisible) {
    struct Case {
        bool avi;
        bool pictor;
    };
    for (const Case& c : {Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(c.avi ? "avi" : "wav");
        form->ShowMedia(c.avi ? avi : wav);
        EXPECT_FALSE(form->MediaPlayer->isHidden());
        EXPECT_FALSE(form->TrackBar->isHidden());
        EXPECT_TRUE(form->TrackBarS->isHidden());
        EXPECT_EQ(form->bPictor->isHidden(), !c.pictor);
        EXPECT_EQ(form->TrackBar->value(), 0);
        EXPECT_FALSE(form->Player->source().isEmpty());
        EXPECT_EQ(form->MediaPlayer->geometry(), QRect(2, 404, 197, 20));
        EXPECT_EQ(form->TrackBar->geometry(), QRect(2, 384, 200, 17));
        EXPECT_EQ(form->MediaStep->parentWidget(), form->MediaPlayer);
        if (const char* shots = std::getenv("PICTOR_MEDIA_SHOTS"); shots && !c.avi)
            form->grab().save(QString::fromLocal8Bit(shots) + "/panel-wav.png");
        form->ResetPreview();
        for (QWidget* w : std::initializer_list<QWidget*>{form->MediaPlayer, form->TrackBar,
                                                          form->bPictor, form->Video})
            EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
        EXPECT_TRUE(form->Player->source().isEmpty());
    }
    // A file that is not there changes nothing.
    EXPECT_THROW(form->ShowMedia((dir.path / "gone.wav").string()), EInOutError);
    EXPECT_TRUE(form->MediaPlayer->isHidden());
    EXPECT_TRUE(form->Player->source().isEmpty());
}

TEST_F(MediaPanel, ButtonsKeepTimersAndBarInStep) {
    form->ShowMedia(wav);
    QSlider* bar = form->TrackBar;
    bar->setRange(0, 100);
    struct Step {
        QPushButton* TMainForm::*button;
        int barBefore;
        bool timer, mtimer;
        int barAfter; // -1: the maximum
    };
    const Step steps[] = {
        {&TMainForm::MediaPlay, 30, true, true, 30},  {&TMainForm::MediaPause, 30, false, true, 30},
        {&TMainForm::MediaStop, 60, false, false, 0}, {&TMainForm::MediaNext, 10, false, false, -1},
        {&TMainForm::MediaPrev, 70, false, false, 0},
    };
    for (const Step& s : steps) {
        form->Timer->stop();
        form->MTimer->stop();
        bar->setValue(s.barBefore);
        (form.get()->*s.button)->click();
        SCOPED_TRACE((form.get()->*s.button)->objectName().toStdString());
        EXPECT_EQ(form->Timer->isActive(), s.timer);
        EXPECT_EQ(form->MTimer->isActive(), s.mtimer);
        EXPECT_EQ(bar->value(), s.barAfter < 0 ? bar->maximum() : s.barAfter);
    }
    // Step and back put the bar at the player's position (nothing played: 0).
    bar->setValue(55);
    form->MediaStep->click();
    EXPECT_EQ(bar->value(), int(form->Player->position()));
    // The delay after a drag copies the bar into the pending seek and stops itself.
    form->Timer->start();
    bar->setValue(42);
    form->TimerTimer();
    EXPECT_EQ(form->TrackBarS->value(), 42);
    EXPECT_FALSE(form->Timer->isActive());
    // Nothing plays: the follower stops itself.
    form->MTimer->start();
    form->MTimerTimer();
    EXPECT_FALSE(form->MTimer->isActive());
}

TEST_F(MediaPanel, ClickBesideThumbJumpsThenDragsAndReleaseSeeks) {
    form->ShowMedia(wav);
    auto* bar = static_cast<TTrackBar*>(form->TrackBar);
    for (int x : {150, 20, 196, 100}) {
        SCOPED_TRACE(x);
        bar->setRange(0, 1000);
        bar->setValue(x > 120 ? 0 : 1000); // the thumb at the far end from x
        form->MTimer->start();
        const TTrackBarGeometry before = bar->Geometry();
        const std::optional<int> expected = TrackBarJumpPosition(before, x);
        ASSERT_TRUE(expected.has_value());
        Press(bar, QEvent::MouseButtonPress, x);
        EXPECT_EQ(bar->value(), *expected);
        EXPECT_EQ(form->TrackBarS->value(), *expected);
        const TTrackBarGeometry after = bar->Geometry();
        EXPECT_TRUE(after.ThumbLeft <= x && x < after.ThumbRight) << "thumb under the mouse";
        EXPECT_TRUE(bar->isSliderDown()) << "the press goes on as a drag";
        EXPECT_FALSE(form->MTimer->isActive());
        // Drag on: the thumb follows and the delayed copy is armed.
        const int dragTo = x > 120 ? x - 40 : x + 40;
        QMouseEvent move(QEvent::MouseMove, QPointF(dragTo, bar->height() / 2),
                         bar->mapToGlobal(QPointF(dragTo, bar->height() / 2)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        EXPECT_NE(bar->value(), *expected);
        EXPECT_TRUE(form->Timer->isActive());
        Press(bar, QEvent::MouseButtonRelease, dragTo);
        EXPECT_EQ(form->TrackBarS->value(), bar->value());
        EXPECT_FALSE(form->Timer->isActive());
        EXPECT_TRUE(form->MTimer->isActive());
        EXPECT_FALSE(bar->isSliderDown());
    }
    // A press on the thumb itself does not jump.
    bar->setValue(500);
    const TTrackBarGeometry g = bar->Geometry();
    const int onThumb = (g.ThumbLeft + g.ThumbRight) / 2;
    Press(bar, QEvent::MouseButtonPress, onThumb);
    EXPECT_EQ(bar->value(), 500);
    Press(bar, QEvent::MouseButtonRelease, onThumb);
    EXPECT_EQ(form->TrackBarS->value(), 500);
}

TEST_F(MediaPanel, MediaWindowTakesTheVideoAndGivesItBack) {
    form->ShowMedia(avi);
    form->bPictorClick();
    ASSERT_NE(form->MediaForm, nullptr);
    QPointer<TMediaForm> window = form->MediaForm;
    EXPECT_EQ(form->Video->parentWidget(), window.data());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    window->resize(300, 200);
    EXPECT_EQ(form->Video->geometry(), QRect(0, 0, 300, 200));
    form->TrackBar->setValue(40);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(form->MediaForm, nullptr);
    EXPECT_EQ(form->Video->parentWidget(), form->Panel);
    EXPECT_EQ(form->Video->geometry(),
              QRect(form->Image->x(), form->Image->y(), form->Panel->width(), 150));
    EXPECT_EQ(form->TrackBar->value(), 0);
    // The next selection closes a window that is still open.
    form->bPictorClick();
    window = form->MediaForm;
    form->ResetPreview();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(form->Video->parentWidget(), form->Panel);
}

// Needs a media backend that opens files; the control logic above does not.
TEST_F(MediaPanel, RealPlaybackSetsRangeAndWindowSize) {
    form->ShowMedia(avi);
    if (!Loaded()) GTEST_SKIP() << "the media backend cannot open a motion-JPEG AVI here";
    (void)QTest::qWaitFor([&] { return form->Player->duration() > 0; }, 10000);
    EXPECT_EQ(form->TrackBar->maximum(), int(form->Player->duration()));
    EXPECT_NEAR(form->TrackBar->maximum(), 2000, 150); // 20 frames at 10 a second
    EXPECT_EQ(form->TrackBarS->maximum(), form->TrackBar->maximum());
    form->MediaPlay->click();
    (void)QTest::qWaitFor([&] { return !form->Video->VideoSize().isEmpty(); }, 10000);
    EXPECT_EQ(form->Video->VideoSize(), QSize(160, 120));
    EXPECT_FALSE(form->Video->isHidden());
    form->MediaPause->click();
    if (const char* shots = std::getenv("PICTOR_MEDIA_SHOTS"))
        form->grab().save(QString::fromLocal8Bit(shots) + "/panel-avi.png");
    form->bPictorClick();
    ASSERT_NE(form->MediaForm, nullptr);
    (void)QTest::qWaitFor([&] { return form->MediaForm->Fitted(); }, 10000);
    EXPECT_EQ(form->MediaForm->size(), QSize(160, 120));
    if (const char* shots = std::getenv("PICTOR_MEDIA_SHOTS")) {
        form->MediaPlay->click();
        (void)QTest::qWaitFor([&] { return form->Player->position() > 500; }, 10000);
        form->MediaForm->grab().save(QString::fromLocal8Bit(shots) + "/media-window.png");
    }
    EXPECT_TRUE(errors.messages.empty()) << errors.messages.front();

    // Sound needs an audio output; without one the backend never learns the length.
    form->ShowMedia(wav);
    if (!Loaded() || !QTest::qWaitFor([&] { return form->Player->duration() > 0; }, 10000))
        GTEST_SKIP() << "the media backend cannot play sound here (no audio output)";
    EXPECT_NEAR(form->TrackBar->maximum(), 300, 30);
}

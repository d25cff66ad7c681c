#include "app/ErrorRecorder.h"
#include "app/forms/Application.h"
#include "app/forms/Main.h"
#include "app/forms/RightEdit.h"
#include "app/forms/kind.h"
#include "core/BmpCodec.h"
#include "core/IniFile.h"
#include "core/Metafile.h"
#include "core/PictureFormats.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace pictor;
using namespace pictor_test;
namespace fs = std::filesystem;

namespace {

TMainFormOptions Options(const fs::path& dir, TMediaSupport media = {true, true}) {
    TMainFormOptions o;
    o.SettingsPath = (dir / "pictor.ini").string();
    o.MediaProbe = [media] { return media; };
    o.OsVersion = TOsVersion{6, 1, 0};
    // Keep plug-ins of the machine out of these tests.
    o.AppDir = (dir / "none").string();
    o.SystemDir = o.AppDir;
    o.WindowsDir = o.AppDir;
    return o;
}

std::unique_ptr<TMainForm> Open(const TMainFormOptions& options) {
    auto form = std::make_unique<TMainForm>(options);
    form->show();
    return form;
}

} // namespace

TEST(MainForm, FirstStartDefaultsAndCloseWritesEverySetting) {
    TempDir dir;
    auto form = Open(Options(dir.path));
    EXPECT_EQ(form->windowTitle(), "Pictor[MainForm]");
    EXPECT_EQ(form->size(), QSize(800, 600));
    ASSERT_NE(form->Fkind, nullptr);
    EXPECT_FALSE(form->Fkind->isVisible());
    EXPECT_TRUE(form->Fkind->cbjpg->isChecked());
    EXPECT_FALSE(form->Fkind->cbgif->isChecked());
    EXPECT_EQ(form->Fkind->RightEdit->text(), "2000");
    EXPECT_EQ(form->FitMode(), 1);
    EXPECT_TRUE(form->Fkind->cbsusdir->isChecked());
    EXPECT_TRUE(form->Fkind->cbviwdir->isChecked());
    EXPECT_FALSE(form->Fkind->cbcurdir->isChecked());
    EXPECT_EQ(form->Splitter->sizes().value(0), 225);

    // Change a few settings, then close.
    form->Fkind->cbgif->setChecked(true);
    form->Fkind->cbjpg->setChecked(false);
    form->Fkind->cbLastDir->setChecked(true);
    form->Fkind->cbcurdir->setChecked(true);
    form->Fkind->RightEdit->setText("3500");
    form->Pics4->trigger();
    form->NavigateTo(dir.path.string());
    form->resize(800, 500);
    form->move(0, 20);
    EXPECT_TRUE(form->close());
    form.reset();

    const std::string text = ReadFile(dir.path / "pictor.ini");
    for (const char* section : {"[WindowPosition]", "[ViewFileSelect]", "[Interval]",
                                "[WindowsSizeSelect]", "[View]", "[Plug-in Dir]"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    EXPECT_LT(text.find("[WindowPosition]"), text.find("[ViewFileSelect]"));
    EXPECT_LT(text.find("[Interval]"), text.find("[WindowsSizeSelect]"));

    // The next start reads everything back.
    auto again = Open(Options(dir.path));
    EXPECT_EQ(again->size(), QSize(800, 500));
    EXPECT_EQ(again->pos(), QPoint(0, 20));
    EXPECT_TRUE(again->Fkind->cbgif->isChecked());
    EXPECT_FALSE(again->Fkind->cbjpg->isChecked());
    EXPECT_EQ(again->Fkind->RightEdit->text(), "3500");
    EXPECT_EQ(again->FitMode(), 3);
    EXPECT_TRUE(again->Fkind->cbcurdir->isChecked());
    EXPECT_EQ(again->CurrentFolder(), dir.path.string()) << "the last folder reopens";
}

TEST(MainForm, LastFolderWinsOverTheArgument) {
    TempDir dir;
    fs::create_directories(dir.path / "photos" / "2026");
    std::ofstream(dir.path / "photos" / "2026" / "IMG.JPG") << "x";
    TMainFormOptions o = Options(dir.path);
    o.Arguments = {(dir.path / "photos" / "2026" / "IMG.JPG").string()};
    {
        auto form = Open(o);
        EXPECT_EQ(form->CurrentFolder(), (dir.path / "photos" / "2026").string());
    }
    o.Arguments = {(dir.path / "photos").string() + "/"};
    {
        auto form = Open(o);
        EXPECT_EQ(form->CurrentFolder(), (dir.path / "photos").string());
    }
    {
        TIniFile ini(o.SettingsPath);
        ini.WriteBool("ViewFileSelect", "LastDir", true);
        ini.WriteString("ViewFileSelect", "LastDirPath", dir.path.string());
        ini.UpdateFile();
    }
    auto form = Open(o);
    EXPECT_EQ(form->CurrentFolder(), dir.path.string());
}

TEST(MainForm, RefusedSaveKeepsTheWindowOpen) {
    TempDir dir;
    std::ofstream(dir.path / "file") << "x";
    TMainFormOptions o = Options(dir.path);
    // A folder that is a file cannot be written, even by root.
    o.SettingsPath = (dir.path / "file" / "pictor.ini").string();
    ErrorRecorder errors;
    auto form = Open(o);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], o.SettingsPath + " に書き込めません");
}

TEST(MainForm, TerminationSignalIsACloseRequest) {
    TempDir dir;
    TMainFormOptions o = Options(dir.path);
    o.HandleSignals = true;
    auto form = Open(o);
    form->Fkind->cbtxt->setChecked(true);
    ::raise(SIGTERM);
    for (int i = 0; i < 200 && form->isVisible(); ++i)
        QTest::qWait(10);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(TIniFile(o.SettingsPath).ReadBool("ViewFileSelect", "txt", false));
}

TEST(MainForm, MediaSwitchesFollowTheBackend) {
    TempDir dir;
    {
        TIniFile ini((dir.path / "pictor.ini").string());
        for (const char* k : {"wav", "mid", "mp3", "avi"})
            ini.WriteBool("ViewFileSelect", k, true);
        ini.UpdateFile();
    }
    int calls = 0;
    TMainFormOptions o = Options(dir.path);
    o.MediaProbe = [&calls] {
        return ++calls == 1 ? TMediaSupport{false, true} : TMediaSupport{true, true};
    };
    auto form = Open(o);
    for (QCheckBox* box : {form->Fkind->cbwav, form->Fkind->cbmid, form->Fkind->cbmp3}) {
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(box->isEnabled());
    }
    EXPECT_TRUE(form->Fkind->cbavi->isChecked());
    // A later reload does not bring them back.
    form->Fkind->Button3Click();
    EXPECT_FALSE(form->Fkind->cbwav->isEnabled());
    EXPECT_FALSE(form->Fkind->cbwav->isChecked());

    TMainFormOptions o2 = Options(dir.path, {true, false});
    form.reset();
    auto other = Open(o2);
    EXPECT_TRUE(other->Fkind->cbwav->isEnabled());
    EXPECT_FALSE(other->Fkind->cbmp3->isEnabled());
}

TEST(DisplaySettings, IntervalIsBoundedOnApplyAndEmptyIsRefused) {
    TempDir dir;
    auto form = Open(Options(dir.path));
    TFkind* fk = form->Fkind;
    fk->RightEdit->setText("300");
    fk->Button3Click();
    EXPECT_EQ(fk->RightEdit->text(), "500");
    EXPECT_EQ(TIniFile(form->SettingsPath()).ReadInteger("Interval", "Interval", 0), 500);
    EXPECT_TRUE(fk->Changed);

    fk->RightEdit->setText("99999");
    fk->Button3Click();
    EXPECT_EQ(TIniFile(form->SettingsPath()).ReadInteger("Interval", "Interval", 0), 99999);

    // An empty field: the click's error reaches the error display, nothing is saved and the
    // dialog stays open.
    ErrorRecorder errors;
    fk->show();
    fk->RightEdit->setText("");
    fk->cbtxt->setChecked(true);
    QTest::mouseClick(fk->Button1, Qt::LeftButton);
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "'' は整数ではありません");
    EXPECT_TRUE(fk->isVisible());
    EXPECT_FALSE(TIniFile(form->SettingsPath()).ReadBool("ViewFileSelect", "txt", false));

    // Cancel undoes nothing: the switch stays as the user set it.
    fk->cbjpg->setChecked(false);
    QTest::mouseClick(fk->Button2, Qt::LeftButton);
    EXPECT_FALSE(fk->isVisible());
    EXPECT_FALSE(fk->FileKindEnabled("jpg"));
}

TEST(DisplaySettings, ApplyAndCloseRefreshesTheBrowserOnlyAfterAChange) {
    TempDir dir;
    auto form = Open(Options(dir.path));
    int refreshes = 0;
    form->Fkind->OnRefreshBrowser = [&refreshes] { ++refreshes; };
    form->Fkind->show();
    QTest::mouseClick(form->Fkind->Button2, Qt::LeftButton);
    EXPECT_EQ(refreshes, 0);
    form->Fkind->show();
    EXPECT_FALSE(form->Fkind->Changed) << "showing resets the flag";
    QTest::mouseClick(form->Fkind->Button1, Qt::LeftButton);
    EXPECT_FALSE(form->Fkind->isVisible());
    EXPECT_EQ(refreshes, 1);
}

TEST(DisplaySettings, ResizingKeepsBottomAndRightAnchors) {
    TempDir dir;
    auto form = Open(Options(dir.path));
    TFkind* fk = form->Fkind;
    fk->show();
    fk->resize(655, 555);
    EXPECT_EQ(fk->GroupBox1->geometry(), QRect(8, 8, 409, 153));
    EXPECT_EQ(fk->ListView->geometry(), QRect(145, 332, 492, 149));
    EXPECT_EQ(fk->Button2->geometry().right(), 655 - 18 - 1 + 0);
    EXPECT_EQ(fk->GroupBox3->pos(), QPoint(8, 328));
    fk->resize(100, 100);
    EXPECT_EQ(fk->size(), QSize(555, 387)) << "minimum size";
}

TEST(RightEdit, TakesDigitsOnlyUpToItsLength) {
    TRightEdit edit;
    edit.setMaxLength(5);
    QTest::keyClicks(&edit, "12a-3.4567");
    EXPECT_EQ(edit.text(), "12345");
    EXPECT_TRUE(edit.alignment() & Qt::AlignRight);
    edit.clear();
    EXPECT_EQ(edit.text(), "");
}

#ifdef PICTOR_SPI_FIXTURES
namespace {
void CopyPlugin(const char* variant, const fs::path& folder, const std::string& as = "") {
    fs::create_directories(folder);
    fs::copy_file(fs::path(PICTOR_SPI_FIXTURES) / (std::string(variant) + ".spi"),
                  folder / (as.empty() ? std::string(variant) + ".spi" : as));
}

std::vector<std::string> RowTexts(const QTreeWidget* list, int row) {
    std::vector<std::string> texts;
    for (int c = 0; c < 4; ++c)
        texts.push_back(list->topLevelItem(row)->text(c).toStdString());
    return texts;
}
} // namespace

TEST(MainFormPlugins, ProgramFolderPluginIsListedAndItsSwitchIsKept) {
    TempDir dir;
    TMainFormOptions o = Options(dir.path);
    o.AppDir = (dir.path / "app").string();
    CopyPlugin("in_good", dir.path / "app");
    CopyPlugin("in_jpeg", dir.path / "app");
    CopyPlugin("am", dir.path / "app"); // an archive plug-in is refused by the main window
    auto form = Open(o);
    QTreeWidget* list = form->Fkind->ListView;
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(RowTexts(list, 0), (std::vector<std::string>{(dir.path / "app/in_good.spi").string(),
                                                           "*.tst;*.tst2;*.tst3", "Test picture",
                                                           "Pictor test picture plug-in"}));
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(form->PluginExts, (std::vector<std::string>{".tst3", ".jpeg"}));
    EXPECT_TRUE(form->IsPluginExt(".TST3"));

    // Unchecking a row and searching again keeps the row, now unchecked, and drops its
    // extension from the preview's list.
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    form->Fkind->Button3Click();
    ASSERT_EQ(form->Fkind->ListView->topLevelItemCount(), 2);
    EXPECT_EQ(form->Fkind->ListView->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(form->PluginExts, std::vector<std::string>{".tst3"});
    EXPECT_EQ(TIniFile(o.SettingsPath).ReadSectionValues("Plug-in"),
              (std::vector<std::string>{(dir.path / "app/in_good.spi").string() + "=1",
                                        (dir.path / "app/in_jpeg.spi").string() + "=0"}));

    // Turning the program folder off finds nothing there any more.
    form->Fkind->cbviwdir->setChecked(false);
    form->Fkind->Button3Click();
    EXPECT_EQ(form->Fkind->ListView->topLevelItemCount(), 0);
    EXPECT_TRUE(form->PluginExts.empty());
}

TEST(MainFormPlugins, IfgifIsRefusedOnlyOnMajorVersionFive) {
    TempDir dir;
    TMainFormOptions o = Options(dir.path);
    o.AppDir = (dir.path / "app").string();
    CopyPlugin("in_good", dir.path / "app", "IFGIF.SPI");
    o.OsVersion = TOsVersion{5, 1, 2600};
    EXPECT_EQ(Open(o)->Fkind->ListView->topLevelItemCount(), 0);
    o.OsVersion = TOsVersion{6, 1, 0};
    EXPECT_EQ(Open(o)->Fkind->ListView->topLevelItemCount(), 1);
}

TEST(MainFormPlugins, BrokenPluginErrorStillListsTheOnesBefore) {
    TempDir dir;
    TMainFormOptions o = Options(dir.path);
    o.AppDir = (dir.path / "app").string();
    CopyPlugin("in_good", dir.path / "app", "a.spi");
    CopyPlugin("in_nopicture", dir.path / "app", "b.spi");
    ErrorRecorder errors;
    auto form = Open(o);
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "GetPictureは[" + (dir.path / "app/b.spi").string() +
                                      "]では使えないSusie Plugin APIです");
    EXPECT_EQ(form->Fkind->ListView->topLevelItemCount(), 1);
}
#endif

// Once the main window has started, every format loads by file name through the registry:
// the built-in readers and, through the bundled plug-ins found beside the program, PNG.
TEST(MainFormPictures, EveryFormatLoadsThroughTheRegistry) {
    TempDir dir;
    TMainFormOptions o = Options(dir.path);
    o.AppDir = PICTOR_BIN_DIR;
    auto form = Open(o);
    ASSERT_TRUE(form->IsPluginExt(".png")) << "bundled PNG plug-in not found beside the program";

    QImage picture(37, 21, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 6, y * 12, 128));
    const Bitmap source = Bitmap::FromQImage(picture);
    const auto path = [&](const char* name) { return (dir.path / name).string(); };
    ASSERT_TRUE(picture.save(QString::fromStdString(path("a.png")), "PNG"));
    ASSERT_TRUE(picture.save(QString::fromStdString(path("a.jpg")), "JPG", 100));
    SaveBmpFile(source, path("a.bmp"));
    SaveMetafile(source, path("a.emf"), true);
    SaveMetafile(source, path("a.wmf"), false);
    for (const char* name : {"a.png", "a.jpg", "a.bmp", "a.emf", "a.wmf"}) {
        const Bitmap loaded = TPictureFormats::Instance().LoadPicture(path(name));
        EXPECT_EQ(loaded.Width(), 37) << name;
        EXPECT_EQ(loaded.Height(), 21) << name;
        const TRGBQuad c = loaded.PixelColor(20, 10);
        EXPECT_NEAR(c.red, 120, 6) << name;
        EXPECT_NEAR(c.green, 120, 6) << name;
        EXPECT_NEAR(c.blue, 128, 6) << name;
    }
}

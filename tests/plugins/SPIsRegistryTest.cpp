// The plug-in registry: searching folders, its events, format announcement, candidate order.

#include "SpiTestSupport.h"

using namespace pictor;
using namespace pictor_test;

namespace {

// A registry that searches nothing unless a test says so.
class SPIsTest : public SpiTest {
protected:
    SPIsTest() {
        FSpis.SearchOptions = {};
        FSpis.AppDir = FSpis.SystemDir = FSpis.WindowsDir = "";
    }
    TSPIs FSpis;
};

TEST_F(SpiTest, OneRegistryAtATimeWhichUnloadsItsPlugInsWhenDestroyed) {
    const std::string a = Put(Folder("p"), "in_good", "a.spi");
    {
        TSPIs spis;
        spis.Search(a);
        EXPECT_TRUE(IsMapped(a));
        EXPECT_EQ(ErrorOf<ESPIDupCreateSPIs>([] { TSPIs second; }), "TSPIs は複数生成できません");
        EXPECT_EQ(TSPIs::Current(), &spis); // the failed one did not clear it
    }
    EXPECT_FALSE(IsMapped(a));
    EXPECT_EQ(TSPIs::Current(), nullptr);
    TSPIs again;
    EXPECT_EQ(TSPIs::Current(), &again);
}

TEST_F(SPIsTest, SearchLoadsEachPlugInOnceIgnoringCaseAndSkipsOtherFiles) {
    const std::string dir = Folder("p"), other = Folder("q");
    Put(dir, {{"in_good", "good.spi"}, {"in_good", ".hidden.spi"}, {"am", "Archive.Spi"}});
    Put(dir, "in_good", "good.spi.bak");
    Write(dir + "/bad.spi", "text\n");
    fs::create_symlink(dir + "/good.spi", dir + "/link.spi");
    FSpis.Search(dir + "/*.SPI");
    EXPECT_EQ(Names(FSpis), (NameList{"Archive.Spi", "good.spi", "link.spi"}));
    EXPECT_EQ(FSpis.IndexOf(dir + "/GOOD.SPI"), 1);

    // Names differing only in case: found by a later search, and both in one folder.
    Put(dir, "in_good", "GOOD.SPI");
    Put(other, {{"in_jpeg", "J.spi"}, {"in_jpeg", "j.SPI"}});
    FSpis.Search(dir + "/*.spi");
    FSpis.Search(other + "/*.spi");
    EXPECT_EQ(Names(FSpis), (NameList{"Archive.Spi", "good.spi", "link.spi", "J.spi"}));
    EXPECT_EQ(LogCount("info in_jpeg 0"), 2); // one file, loaded the factory's two times
}

TEST_F(SPIsTest, SearchEventsDecideAndAFailingOnSearchCostsOnlyThatPlugIn) {
    const std::string dir = Folder("p");
    // a: refused by OnSearching, b: OnSearch throws, c: refused by OnSearch.
    Put(dir, {{"in_jpeg", "a.spi"}, {"xn", "b.spi"}, {"am", "c.spi"}, {"in_good", "d.spi"}});
    NameList asked;
    FSpis.OnSearching = [&](TSPIs& sender, const std::string& fileName, bool& accept) {
        EXPECT_TRUE(&sender == &FSpis && accept);
        asked.push_back(fileName);
        accept = ExtractFileName(fileName) != "a.spi";
    };
    FSpis.OnSearch = [&](TSPIs&, TSPI& spi, bool& accept) {
        if (dynamic_cast<TXnSPI*>(&spi)) throw Exception("handler failed");
        accept = dynamic_cast<TInSPI*>(&spi) != nullptr;
    };
    FSpis.Search(dir + "/*.spi");
    EXPECT_EQ(asked, (NameList{dir + "/a.spi", dir + "/b.spi", dir + "/c.spi", dir + "/d.spi"}));
    EXPECT_EQ(Names(FSpis), NameList{"d.spi"});
    EXPECT_EQ(LogCount("load in_jpeg"), 0);
    EXPECT_FALSE(IsMapped(dir + "/b.spi") || IsMapped(dir + "/c.spi"));
}

TEST_F(SPIsTest, MissingExportEndsTheSearchKeepingEarlierPlugIns) {
    const std::string dir = Folder("p");
    Put(dir, {{"in_good", "a.spi"}, {"in_nopicture", "b.spi"}, {"in_jpeg", "c.spi"}});
    EXPECT_EQ(ErrorOf<ESPIInvalidAPI>([&] { FSpis.Search(dir + "/*.spi"); }),
              "GetPictureは[" + dir + "/b.spi]では使えないSusie Plugin APIです");
    EXPECT_EQ(Names(FSpis), NameList{"a.spi"});
    EXPECT_EQ(LogCount("load in_jpeg"), 0);
}

TEST_F(SPIsTest, FoldersAreSearchedInOptionOrder) {
    // Susie.ini under $XDG_CONFIG_HOME, else under $HOME/.config; none: no folder, no error.
    const std::string home = Folder("home");
    SetEnv("XDG_CONFIG_HOME", nullptr);
    SetEnv("HOME", home.c_str());
    EXPECT_EQ(TSPIs::SusieDir(), "");
    Folder("home/.config/Kestrin");
    Write(home + "/.config/Kestrin/Susie.ini", "[Plug-in]\nPath=/from/home\n");
    EXPECT_EQ(TSPIs::SusieDir(), "/from/home");
    const std::string susie = Folder("susie"), app = Folder("app"), cur = Folder("cur"),
                      sys = Folder("sys"), win = Folder("win");
    Folder("config/Kestrin");
    Write(FRoot + "/config/Kestrin/Susie.ini",
          "[Other]\nPath=/nowhere\n[plug-in]\npath=" + susie + "\n");
    SetEnv("XDG_CONFIG_HOME", (FRoot + "/config").c_str());
    EXPECT_EQ(TSPIs::SusieDir(), susie);

    // Names sort against the folder order, so the order can only come from the folders.
    Put(susie, "in_good", "e.spi");
    Put(app, "in_good", "d.spi");
    Put(cur, "in_good", "c.spi");
    Put(sys, "in_good", "b.spi");
    Put(win, "in_good", "a.spi");
    fs::current_path(cur);
    FSpis.AppDir = app;
    FSpis.SystemDir = sys + "/"; // with or without the trailing slash
    FSpis.WindowsDir = win;
    FSpis.SearchOptions = {spsWindowsDir, spsCurrentDir};
    FSpis.Search("*.spi");
    EXPECT_EQ(Names(FSpis), (NameList{"c.spi", "a.spi"}));

    FSpis.Clear();
    FSpis.SearchOptions = {spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir};
    FSpis.AutoSearch = false;
    FSpis.Loaded();
    EXPECT_EQ(FSpis.Count(), 0);
    FSpis.AutoSearch = true;
    FSpis.Loaded();
    EXPECT_EQ(Names(FSpis), (NameList{"e.spi", "d.spi", "c.spi", "b.spi", "a.spi"}));
    EXPECT_EQ(FSpis.Items(3).FileName(), sys + "/b.spi");

    // A folder part overrides the options; '?' stands for exactly one character.
    FSpis.Clear();
    FSpis.Search(app + "/??.spi");
    EXPECT_EQ(FSpis.Count(), 0);
    FSpis.Search(app + "/?.Spi");
    EXPECT_EQ(Names(FSpis), NameList{"d.spi"});
}

TEST_F(SPIsTest, PicturePlugInsAnnounceEachExtensionFromTheRight) {
    const std::string dir = Folder("p");
    auto& formats = TPictureFormats::Instance();
    NameList events; // "extension description class"
    FSpis.OnPictureRegister = [&](TSPIs&, TInSPI& spi, const std::string& ext,
                                  const std::string& desc, const TGraphicClass*& g) {
        EXPECT_GE(FSpis.IndexOf(spi.FileName()), 0); // already in the list
        events.push_back(ext + " " + desc + " " + (g ? g->Name : "-"));
        if (ext == "tst2") g = nullptr;       // keeps only this extension out
        if (ext == "tar.gz") g = &OtherClass; // the text after the first '.'
    };
    // No default class: the event still fires, nothing is registered.
    FSpis.Add(CreateSPI(Put(dir, "in_jpeg", "jpeg.spi")));
    EXPECT_EQ(events, (NameList{"jpeg JPEG picture -", "jpg JPEG picture -"}));
    EXPECT_EQ(formats.Find("jpg"), nullptr);

    events.clear();
    DefaultSPIGraphicClass() = &TestClass;
    FSpis.Insert(0, CreateSPI(Put(dir, "am", "am.spi")));
    FSpis.Insert(2, CreateSPI(Put(dir, "abcd", "abcd.spi")));
    EXPECT_TRUE(events.empty()); // only picture plug-ins announce formats
    EXPECT_EQ(Names(FSpis), (NameList{"am.spi", "jpeg.spi", "abcd.spi"}));

    FSpis.Add(CreateSPI(Put(dir, "in_good", "good.spi")));
    FSpis.Add(CreateSPI(Put(dir, "in_jpg", "jpg.spi")));
    EXPECT_EQ(events, (NameList{"tst3 Test picture test graphic", "tst2 Test picture test graphic",
                                "tst Test picture test graphic", "jpg JPG picture test graphic",
                                "tar.gz Packed picture test graphic"}));
    EXPECT_EQ(formats.Find("tst2"), nullptr);
    for (const char* ext : {"tst", "TST3", "jpg"}) {
        ASSERT_NE(formats.Find(ext), nullptr) << ext;
        EXPECT_EQ(formats.Find(ext)->GraphicClass, &TestClass);
    }
    EXPECT_EQ(formats.Find("jpg")->Description, "JPG picture");
    ASSERT_NE(formats.Find("tar.gz"), nullptr);
    EXPECT_EQ(formats.Find("tar.gz")->GraphicClass, &OtherClass);
}

TEST_F(SPIsTest, ListEditingChecksIndicesAndUnloads) {
    const std::string dir = Folder("p");
    FSpis.Add(CreateSPI(Put(dir, "am", "am.spi")));
    std::unique_ptr<TSPI> spi = CreateSPI(Put(dir, "in_good", "good.spi"));
    TSPI* const raw = spi.get();
    EXPECT_THROW(FSpis.Insert(2, std::move(spi)), Exception);
    EXPECT_THROW(FSpis.Insert(-1, std::move(spi)), Exception);
    EXPECT_THROW(FSpis.Add(nullptr), Exception);
    EXPECT_THROW(FSpis.Items(1), Exception);
    EXPECT_THROW(FSpis.Items(-1), Exception);
    EXPECT_THROW(FSpis.Delete(1), Exception);
    // A failing OnPictureRegister leaves list and plug-in with the caller.
    FSpis.OnPictureRegister = [](TSPIs&, TInSPI&, const std::string&, const std::string&,
                                 const TGraphicClass*&) { throw Exception("refused"); };
    EXPECT_THROW(FSpis.Insert(0, std::move(spi)), Exception);
    EXPECT_EQ(spi.get(), raw);
    EXPECT_EQ(Names(FSpis), NameList{"am.spi"});

    FSpis.OnPictureRegister = nullptr;
    FSpis.Insert(0, std::move(spi));
    FSpis.Add(CreateSPI(Put(dir, "in_jpeg", "jpeg.spi")));
    FSpis.GraphicForcedLoader = dynamic_cast<TInSPI*>(raw);
    FSpis.Delete(0);
    EXPECT_FALSE(IsMapped(dir + "/good.spi"));
    EXPECT_EQ(FSpis.GraphicForcedLoader, nullptr); // no dangling pointer
    EXPECT_EQ(Names(FSpis), (NameList{"am.spi", "jpeg.spi"}));
    FSpis.Clear();
    EXPECT_EQ(FSpis.Count(), 0);
    EXPECT_FALSE(IsMapped(dir + "/am.spi") || IsMapped(dir + "/jpeg.spi"));
}

TEST_F(SPIsTest, CandidatesPutMatchingPlugInsFirstInReverseOrder) {
    const std::string dir = Folder("p");
    // E is "*.jpg;*.jpeg": only the entry's last extension counts.
    Put(dir, {{"in_jpg", "A.spi"}, {"in_good", "B.spi"}, {"in_jpg", "C.spi"}});
    Put(dir, {{"am", "D.spi"}, {"in_jpeg", "E.spi"}});
    FSpis.Search(dir + "/*.spi");
    auto pictures = [&](const std::string& fileName) {
        std::vector<TSPI*> list;
        FSpis.GetCandidates<TInSPI>(list, fileName);
        return Names(list);
    };
    EXPECT_EQ(pictures("/x/photo.JPG"), (NameList{"C.spi", "A.spi", "B.spi", "E.spi"}));
    EXPECT_EQ(pictures("photo.jpeg"), (NameList{"E.spi", "A.spi", "B.spi", "C.spi"}));
    EXPECT_EQ(pictures("photo.TST3"), (NameList{"B.spi", "A.spi", "C.spi", "E.spi"}));
    for (const char* none : {"photo.Tst", "/x/noext", "/x.jpg/noext"})
        EXPECT_EQ(pictures(none), (NameList{"A.spi", "B.spi", "C.spi", "E.spi"})) << none;
    // A base class selects every class derived from it.
    std::vector<TSPI*> loaders;
    FSpis.GetCandidates<TLoaderSPI>(loaders, "x.tar");
    EXPECT_EQ(Names(loaders), (NameList{"D.spi", "A.spi", "B.spi", "C.spi", "E.spi"}));
}

} // namespace

// The plug-in registry: searching folders, its events, format announcement, candidate order.

#include "SpiTestSupport.h"

#include <sys/stat.h>

using namespace pictor;
using namespace pictor_test;

namespace {

class SPIsTest : public SpiTest {
protected:
    // A registry that searches nothing unless a test says so.
    static void Isolate(TSPIs& spis) {
        spis.SearchOptions = {};
        spis.AppDir = spis.SystemDir = spis.WindowsDir = "";
    }
};

using NameList = std::vector<std::string>;

TEST_F(SPIsTest, OnlyOneRegistryAtATime) {
    EXPECT_EQ(TSPIs::Current(), nullptr);
    {
        TSPIs spis;
        EXPECT_EQ(TSPIs::Current(), &spis);
        EXPECT_EQ(spis.SearchOptions, (TSPISearchOptions{spsSusieDir, spsAppDir}));
        EXPECT_TRUE(spis.AutoSearch && spis.MacBinary && !spis.GraphicPreview);
        try {
            TSPIs second;
            ADD_FAILURE() << "second registry created";
        } catch (const ESPIDupCreateSPIs& e) {
            EXPECT_STREQ(e.what(), "TSPIs は複数生成できません");
        }
        EXPECT_EQ(TSPIs::Current(), &spis); // the failed one did not clear it
    }
    EXPECT_EQ(TSPIs::Current(), nullptr);
    TSPIs again;
    EXPECT_EQ(TSPIs::Current(), &again);
}

TEST_F(SPIsTest, SearchLoadsPlugInsAndSkipsEverythingElseQuietly) {
    const std::string dir = Folder("p");
    Put(dir, "in_good", "good.spi");
    Put(dir, "in_good", ".hidden.spi");
    Put(dir, "in_good", "good.spi.bak");
    Put(dir, "am", "Archive.Spi");
    Write(dir + "/bad.spi", "text\n");
    Write(dir + "/win.spi", std::string("MZ\x90\0", 4) + std::string(300, '\0'));
    Folder("p/folder.spi");
    ASSERT_EQ(::mkfifo((dir + "/fifo.spi").c_str(), 0600), 0);
    fs::create_symlink(dir + "/good.spi", dir + "/link.spi");

    TSPIs spis;
    Isolate(spis);
    spis.Search(dir + "/*.SPI");
    EXPECT_EQ(Names(spis), (NameList{"Archive.Spi", "good.spi", "link.spi"}));
    EXPECT_EQ(spis.Items(1).FileName(), dir + "/good.spi");

    // Searching again finds only registered files.
    spis.Search(dir + "/*.spi");
    EXPECT_EQ(spis.Count(), 3);
}

TEST_F(SPIsTest, SameFileNameIgnoringCaseIsLoadedOnce) {
    const std::string dir = Folder("p");
    Put(dir, "in_good", "plug.spi");
    TSPIs spis;
    Isolate(spis);
    spis.Search(dir + "/*.spi");
    ASSERT_EQ(spis.Count(), 1);
    EXPECT_EQ(spis.IndexOf(dir + "/PLUG.SPI"), 0);
    EXPECT_EQ(spis.IndexOf(dir + "/plug2.spi"), -1);

    // Another copy whose name differs only in case, found by a later search and in one folder.
    Put(dir, "in_good", "PLUG.SPI");
    spis.Search(dir + "/*.spi");
    EXPECT_EQ(spis.Count(), 1);

    const std::string other = Folder("q");
    Put(other, "in_jpeg", "J.spi");
    Put(other, "in_jpeg", "j.SPI");
    spis.Search(other + "/*.spi");
    EXPECT_EQ(Names(spis), (NameList{"plug.spi", "J.spi"}));
    EXPECT_EQ(LogCount("info in_jpeg 0"), 2); // one file, loaded the factory's two times
}

TEST_F(SPIsTest, RefusedCandidateIsNeverLoaded) {
    const std::string dir = Folder("p");
    Put(dir, "in_jpeg", "refused.spi");
    Put(dir, "in_good", "taken.spi");
    TSPIs spis;
    Isolate(spis);
    std::vector<std::string> asked;
    spis.OnSearching = [&](TSPIs& sender, const std::string& fileName, bool& accept) {
        EXPECT_EQ(&sender, &spis);
        EXPECT_TRUE(accept);
        asked.push_back(fileName);
        accept = ExtractFileName(fileName) != "refused.spi";
    };
    spis.Search(dir + "/*.spi");
    EXPECT_EQ(asked, (NameList{dir + "/refused.spi", dir + "/taken.spi"}));
    EXPECT_EQ(Names(spis), NameList{"taken.spi"});
    EXPECT_EQ(LogCount("load in_jpeg"), 0);
}

TEST_F(SPIsTest, OnSearchDecidesAndItsErrorsCostOnlyThatPlugIn) {
    const std::string dir = Folder("p");
    Put(dir, "xn", "a_throws.spi");
    Put(dir, "am", "b_refused.spi");
    Put(dir, "in_good", "c_taken.spi");
    TSPIs spis;
    Isolate(spis);
    spis.OnSearch = [&](TSPIs&, TSPI& spi, bool& accept) {
        if (dynamic_cast<TXnSPI*>(&spi)) throw Exception("handler failed");
        accept = dynamic_cast<TInSPI*>(&spi) != nullptr;
    };
    spis.Search(dir + "/*.spi");
    EXPECT_EQ(Names(spis), NameList{"c_taken.spi"});
    EXPECT_FALSE(IsMapped(dir + "/a_throws.spi"));
    EXPECT_FALSE(IsMapped(dir + "/b_refused.spi"));
    EXPECT_EQ(LogCount("unload xn"), 1);
    EXPECT_EQ(LogCount("unload am"), 1);
}

TEST_F(SPIsTest, MissingExportEndsTheSearchKeepingEarlierPlugIns) {
    const std::string dir = Folder("p");
    // Name order decides what was registered before the broken one.
    Put(dir, "in_good", "a.spi");
    Put(dir, "in_nopicture", "b.spi");
    Put(dir, "in_jpeg", "c.spi");
    TSPIs spis;
    Isolate(spis);
    try {
        spis.Search(dir + "/*.spi");
        ADD_FAILURE() << "no error";
    } catch (const ESPIInvalidAPI& e) {
        EXPECT_EQ(std::string(e.what()),
                  "GetPictureは[" + dir + "/b.spi]では使えないSusie Plugin APIです");
    }
    EXPECT_EQ(Names(spis), NameList{"a.spi"});
    EXPECT_EQ(LogCount("load in_jpeg"), 0);
}

TEST_F(SPIsTest, FoldersAreSearchedInOptionOrder) {
    const std::string susie = Folder("susie"), app = Folder("app"), cur = Folder("cur"),
                      sys = Folder("sys"), win = Folder("win");
    // Names sort against the folder order, so the order can only come from the folders.
    Put(susie, "in_good", "e.spi");
    Put(app, "in_good", "d.spi");
    Put(cur, "in_good", "c.spi");
    Put(sys, "in_good", "b.spi");
    Put(win, "in_good", "a.spi");
    Folder("config/Kestrin");
    Write(FRoot + "/config/Kestrin/Susie.ini",
          "[Other]\nPath=/nowhere\n[plug-in]\npath=" + susie + "\n");
    const ScopedEnv config("XDG_CONFIG_HOME", (FRoot + "/config").c_str());
    fs::current_path(cur);

    TSPIs spis;
    spis.AppDir = app;
    spis.SystemDir = sys + "/"; // with or without the trailing slash
    spis.WindowsDir = win;
    EXPECT_EQ(TSPIs::SusieDir(), susie);
    spis.SearchOptions = {spsWindowsDir, spsCurrentDir};
    spis.Search("*.spi");
    EXPECT_EQ(Names(spis), (NameList{"c.spi", "a.spi"}));

    spis.Clear();
    spis.SearchOptions = {spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir};
    spis.Search("*.SPI");
    EXPECT_EQ(Names(spis), (NameList{"e.spi", "d.spi", "c.spi", "b.spi", "a.spi"}));
    EXPECT_EQ(spis.Items(3).FileName(), sys + "/b.spi");

    // A folder part overrides the options; '?' stands for one character.
    spis.Clear();
    spis.Search(app + "/?.Spi");
    EXPECT_EQ(Names(spis), NameList{"d.spi"});
    spis.Search(app + "/??.spi");
    EXPECT_EQ(spis.Count(), 1);
}

TEST_F(SPIsTest, SusieFolderComesFromTheIniUnderTheConfigHome) {
    const std::string home = Folder("home");
    const ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
    const ScopedEnv homeEnv("HOME", home.c_str());
    EXPECT_EQ(TSPIs::SusieDir(), ""); // no file: no folder, no error
    Folder("home/.config/Kestrin");
    Write(home + "/.config/Kestrin/Susie.ini", "[Plug-in]\nPath=" + home + "/plugins\n");
    EXPECT_EQ(TSPIs::SusieDir(), home + "/plugins");

    const std::string plugins = Folder("home/plugins");
    Put(plugins, "in_good", "x.spi");
    TSPIs spis;
    Isolate(spis);
    spis.SearchOptions = {spsSusieDir};
    spis.Search("*.spi");
    EXPECT_EQ(Names(spis), NameList{"x.spi"});
}

TEST_F(SPIsTest, LoadedSearchesOnlyWithAutoSearch) {
    const std::string app = Folder("app");
    Put(app, "in_good", "x.spi");
    Put(app, "in_jpeg", "y.SPI");
    TSPIs spis;
    Isolate(spis);
    spis.SearchOptions = {spsAppDir};
    spis.AppDir = app;
    spis.AutoSearch = false;
    spis.Loaded();
    EXPECT_EQ(spis.Count(), 0);
    spis.AutoSearch = true;
    spis.Loaded();
    EXPECT_EQ(Names(spis), (NameList{"x.spi", "y.SPI"}));
}

TEST_F(SPIsTest, InsertAnnouncesEachExtensionOfPicturePlugIns) {
    const std::string dir = Folder("p");
    DefaultSPIGraphicClass() = &TestClass;
    TSPIs spis;
    Isolate(spis);
    struct Event {
        std::string ext, desc;
        const TGraphicClass* g;
        bool operator==(const Event&) const = default;
    };
    std::vector<Event> events;
    spis.OnPictureRegister = [&](TSPIs&, TInSPI& spi, const std::string& ext,
                                 const std::string& desc, const TGraphicClass*& g) {
        EXPECT_EQ(spis.IndexOf(spi.FileName()), 0); // already in the list
        events.push_back({ext, desc, g});
    };
    spis.Add(CreateSPI(Put(dir, "in_jpeg", "jpeg.spi")));
    EXPECT_EQ(events, (std::vector<Event>{{"jpeg", "JPEG picture", &TestClass},
                                          {"jpg", "JPEG picture", &TestClass}}));
    const TPictureFormat* jpeg = TPictureFormats::Instance().Find("JPEG");
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(jpeg->Description, "JPEG picture");
    EXPECT_EQ(jpeg->GraphicClass, &TestClass);
    EXPECT_NE(TPictureFormats::Instance().Find("jpg"), nullptr);

    // Only picture plug-ins announce formats.
    events.clear();
    spis.Insert(0, CreateSPI(Put(dir, "am", "am.spi")));
    spis.Insert(2, CreateSPI(Put(dir, "abcd", "abcd.spi")));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(Names(spis), (NameList{"am.spi", "jpeg.spi", "abcd.spi"}));
}

TEST_F(SPIsTest, RegisterHandlerControlsTheGraphicClass) {
    const std::string dir = Folder("p");
    TSPIs spis;
    Isolate(spis);
    std::vector<const TGraphicClass*> seen;
    auto& formats = TPictureFormats::Instance();

    // No default class yet: the event still fires, nothing is registered.
    spis.OnPictureRegister = [&](TSPIs&, TInSPI&, const std::string&, const std::string&,
                                 const TGraphicClass*& g) { seen.push_back(g); };
    spis.Add(CreateSPI(Put(dir, "in_good", "good.spi")));
    EXPECT_EQ(seen, (std::vector<const TGraphicClass*>{nullptr, nullptr, nullptr}));
    EXPECT_EQ(formats.Find("tst"), nullptr);

    // "*.tst;*.tst2;*.tst3" is announced from the right. Refusing "tst2" keeps only that
    // extension out; "tst" arrives with the default class again.
    std::vector<std::string> exts;
    seen.clear();
    DefaultSPIGraphicClass() = &TestClass;
    spis.OnPictureRegister = [&](TSPIs&, TInSPI&, const std::string& ext, const std::string&,
                                 const TGraphicClass*& g) {
        exts.push_back(ext);
        seen.push_back(g);
        if (ext == "tst2") g = nullptr;
    };
    spis.Add(CreateSPI(Put(dir, "in_good", "good2.spi")));
    EXPECT_EQ(exts, (NameList{"tst3", "tst2", "tst"}));
    EXPECT_EQ(seen, (std::vector<const TGraphicClass*>{&TestClass, &TestClass, &TestClass}));
    ASSERT_NE(formats.Find("tst3"), nullptr);
    EXPECT_EQ(formats.Find("tst3")->GraphicClass, &TestClass);
    EXPECT_EQ(formats.Find("tst2"), nullptr);
    ASSERT_NE(formats.Find("tst"), nullptr);
    EXPECT_EQ(formats.Find("tst")->GraphicClass, &TestClass);

    // A handler may substitute another class.
    spis.OnPictureRegister = [&](TSPIs&, TInSPI&, const std::string&, const std::string&,
                                 const TGraphicClass*& g) { g = &OtherClass; };
    spis.Add(CreateSPI(Put(dir, "in_jpg", "jpg.spi")));
    ASSERT_NE(formats.Find("jpg"), nullptr);
    EXPECT_EQ(formats.Find("jpg")->GraphicClass, &OtherClass);
    ASSERT_NE(formats.Find("tar.gz"), nullptr); // the text after the first '.'
    EXPECT_EQ(formats.Find("tar.gz")->Description, "Packed picture");
}

TEST_F(SPIsTest, FailedInsertLeavesListAndPlugInWithTheCaller) {
    const std::string dir = Folder("p");
    TSPIs spis;
    Isolate(spis);
    spis.Add(CreateSPI(Put(dir, "am", "am.spi")));
    std::unique_ptr<TSPI> spi = CreateSPI(Put(dir, "in_good", "good.spi"));
    TSPI* const raw = spi.get();

    EXPECT_THROW(spis.Insert(2, std::move(spi)), Exception);
    EXPECT_THROW(spis.Insert(-1, std::move(spi)), Exception);
    EXPECT_THROW(spis.Add(nullptr), Exception);
    spis.OnPictureRegister = [](TSPIs&, TInSPI&, const std::string&, const std::string&,
                                const TGraphicClass*&) { throw Exception("refused"); };
    EXPECT_THROW(spis.Insert(0, std::move(spi)), Exception);
    EXPECT_EQ(spi.get(), raw);
    EXPECT_EQ(Names(spis), NameList{"am.spi"});

    spis.OnPictureRegister = nullptr;
    spis.Insert(0, std::move(spi));
    EXPECT_EQ(Names(spis), (NameList{"good.spi", "am.spi"}));
}

TEST_F(SPIsTest, DeleteAndClearUnload) {
    const std::string dir = Folder("p");
    const std::string a = Put(dir, "in_good", "a.spi"), b = Put(dir, "in_jpeg", "b.spi"),
                      c = Put(dir, "am", "c.spi");
    {
        TSPIs spis;
        Isolate(spis);
        spis.Search(dir + "/*.spi");
        ASSERT_EQ(spis.Count(), 3);
        spis.GraphicForcedLoader = dynamic_cast<TInSPI*>(&spis.Items(0));
        ASSERT_NE(spis.GraphicForcedLoader, nullptr);

        EXPECT_THROW(spis.Items(3), Exception);
        EXPECT_THROW(spis.Items(-1), Exception);
        EXPECT_THROW(spis.Delete(3), Exception);
        EXPECT_EQ(spis.Count(), 3);

        spis.Delete(0);
        EXPECT_FALSE(IsMapped(a));
        EXPECT_EQ(spis.GraphicForcedLoader, nullptr); // no dangling pointer
        EXPECT_EQ(Names(spis), (NameList{"b.spi", "c.spi"}));
        spis.Clear();
        EXPECT_EQ(spis.Count(), 0);
        EXPECT_FALSE(IsMapped(b) || IsMapped(c));
        spis.Search(dir + "/*.spi");
        EXPECT_TRUE(IsMapped(b));
    }
    EXPECT_FALSE(IsMapped(a) || IsMapped(b) || IsMapped(c)); // the destructor cleared
}

TEST_F(SPIsTest, CandidatesPutMatchingPlugInsFirstInReverseOrder) {
    const std::string dir = Folder("p");
    Put(dir, "in_jpg", "A.spi");
    Put(dir, "in_good", "B.spi");
    Put(dir, "in_jpg", "C.spi");
    Put(dir, "am", "D.spi");
    Put(dir, "in_jpeg", "E.spi"); // "*.jpg;*.jpeg": only the entry's last extension counts
    TSPIs spis;
    Isolate(spis);
    spis.Search(dir + "/*.spi");
    ASSERT_EQ(spis.Count(), 5);

    auto pictures = [&](const std::string& fileName) {
        std::vector<TSPI*> list;
        spis.GetCandidates<TInSPI>(list, fileName);
        return Names(list);
    };
    EXPECT_EQ(pictures("/x/photo.JPG"), (NameList{"C.spi", "A.spi", "B.spi", "E.spi"}));
    EXPECT_EQ(pictures("photo.jpeg"), (NameList{"E.spi", "A.spi", "B.spi", "C.spi"}));
    EXPECT_EQ(pictures("photo.Tst"), (NameList{"A.spi", "B.spi", "C.spi", "E.spi"}));
    EXPECT_EQ(pictures("photo.TST3"), (NameList{"B.spi", "A.spi", "C.spi", "E.spi"}));
    EXPECT_EQ(pictures("/x/noext"), (NameList{"A.spi", "B.spi", "C.spi", "E.spi"}));
    EXPECT_EQ(pictures("/x.jpg/noext"), (NameList{"A.spi", "B.spi", "C.spi", "E.spi"}));

    // A base class selects every class derived from it.
    std::vector<TSPI*> loaders;
    spis.GetCandidates<TLoaderSPI>(loaders, "x.tar");
    EXPECT_EQ(Names(loaders), (NameList{"D.spi", "A.spi", "B.spi", "C.spi", "E.spi"}));
}

} // namespace

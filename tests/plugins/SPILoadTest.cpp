// Loading one plug-in library: classification, export checks, information texts, refusal of
// files that are not plug-ins.

#include "SpiTestSupport.h"

#include <cstring>
#include <sys/stat.h>
#include <typeinfo>

using namespace pictor;
using namespace pictor_test;

namespace {

class SPILoadTest : public SpiTest {};

TEST_F(SPILoadTest, FactoryChoosesTheClassByTypeCode) {
    const std::string dir = Folder("p");
    struct Case {
        const char* variant;
        const std::type_info& type;
        const char* apiVersion;
        bool isLoader;
    } cases[] = {
        {"in_good", typeid(TInSPI), "00IN", true},
        {"am", typeid(TAmSPI), "00AM", true},
        {"xn", typeid(TXnSPI), "00XN", false},
        {"abcd", typeid(TSPI), "ABCD", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        const std::string path = Put(dir, c.variant, std::string(c.variant) + ".spi");
        const std::unique_ptr<TSPI> spi = CreateSPI(path);
        ASSERT_NE(spi, nullptr);
        EXPECT_EQ(typeid(*spi), c.type);
        EXPECT_EQ(spi->APIVersion(), c.apiVersion);
        EXPECT_EQ(spi->IsLoaderFlag(), c.isLoader);
        EXPECT_EQ(spi->FileName(), path);
        EXPECT_NE(spi->Handle(), nullptr);
    }

    const std::unique_ptr<TSPI> good = CreateSPI(dir + "/in_good.spi");
    EXPECT_EQ(good->About(), "Pictor test picture plug-in");
    EXPECT_EQ(good->Extensions(), std::vector<std::string>{"*.tst;*.tst2;*.tst3"});
    EXPECT_EQ(good->Descriptions(), std::vector<std::string>{"Test picture"});
    EXPECT_TRUE(good->GetPluginInfo() && good->IsSupported() && good->GetPictureInfo() &&
                good->GetPicture() && good->GetPreview());
    EXPECT_FALSE(good->GetArchiveInfo() || good->GetFileInfo() || good->GetFile() ||
                 good->ConfigurationDlg());
}

TEST_F(SPILoadTest, FactoryLoadsTwiceAndDestroyingUnloads) {
    const std::string path = Put(Folder("p"), "in_good", "in_good.spi");
    {
        const std::unique_ptr<TSPI> spi = CreateSPI(path);
        ASSERT_NE(spi, nullptr);
        // Once to learn the type code, once as the chosen class.
        EXPECT_EQ(LogCount("info in_good 0"), 2);
        EXPECT_EQ(LogCount("info in_good 1"), 2);
        EXPECT_TRUE(IsMapped(path));
    }
    EXPECT_FALSE(IsMapped(path));
    EXPECT_EQ(LogCount("unload in_good"), LogCount("load in_good"));
}

TEST_F(SPILoadTest, MissingRequiredExportNamesItAndThePlugIn) {
    const std::string dir = Folder("p");
    struct Case {
        const char* variant;
        const char* missing;
    } cases[] = {{"in_nopicture", "GetPicture"},
                 {"in_nosupported", "IsSupported"},
                 {"in_nopictureinfo", "GetPictureInfo"}, // checked in that order
                 {"noinfo", "GetPluginInfo"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        const std::string path = Put(dir, c.variant, std::string(c.variant) + ".spi");
        try {
            CreateSPI(path);
            ADD_FAILURE() << "no error";
        } catch (const ESPIInvalidAPI& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string(c.missing) + "は[" + path + "]では使えないSusie Plugin APIです");
        }
        EXPECT_FALSE(IsMapped(path)); // the half-built object unloaded it
    }

    // An entry point that no class requires is checked where it is used.
    const std::unique_ptr<TSPI> jpeg = CreateSPI(Put(dir, "in_jpeg", "in_jpeg.spi"));
    ASSERT_EQ(jpeg->GetPreview(), nullptr);
    EXPECT_THROW(jpeg->Required(jpeg->GetPreview(), "GetPreview"), ESPIInvalidAPI);
    EXPECT_EQ(jpeg->Required(jpeg->GetPicture(), "GetPicture"), jpeg->GetPicture());
}

TEST_F(SPILoadTest, FilesThatAreNotPlugInsAreRefusedQuietly) {
    const std::string dir = Folder("p");
    std::string elf32(64, '\0');
    std::memcpy(elf32.data(), "\177ELF\1\1\1", 7); // 32-bit class
    const std::string elf64Header = [] {
        std::ifstream in(Fixture("in_good"), std::ios::binary);
        std::string head(20, '\0');
        in.read(head.data(), 20);
        return head;
    }();
    std::vector<std::string> refused = {
        Write(dir + "/bad.spi", "this is a text file, not a plug-in\n"),
        Write(dir + "/win.spi", std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(200, '\0')),
        Write(dir + "/elf32.spi", elf32),
        Write(dir + "/truncated.spi", elf64Header), // a valid start, then nothing
        Write(dir + "/empty.spi", ""),
        dir + "/missing.spi",
        Folder("p/folder.spi"),
        Put(dir, "abi2", "abi2.spi"),
    };
    ASSERT_EQ(::mkfifo((dir + "/fifo.spi").c_str(), 0600), 0);
    refused.push_back(dir + "/fifo.spi"); // must not block

    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        EXPECT_EQ(CreateSPI(path), nullptr);
    }
    // Refused by its PictorSpiAbi answer after loading, and unloaded again.
    EXPECT_EQ(LogCount("load abi2"), 1);
    EXPECT_EQ(LogCount("unload abi2"), 1);
    EXPECT_FALSE(IsMapped(dir + "/abi2.spi"));
    try {
        TSPI::Load<TSPI>(dir + "/bad.spi");
        ADD_FAILURE() << "no error";
    } catch (const ESPIFOpenErrorSPI& e) {
        EXPECT_EQ(std::string(e.what()), dir + "/bad.spi:Susie Pluginがロードできませんでした");
    }
}

TEST_F(SPILoadTest, FormatEntriesNeedPatternAndDescription) {
    const std::string dir = Folder("p");
    const auto none = CreateSPI(Put(dir, "noentries", "noentries.spi"));
    const auto half = CreateSPI(Put(dir, "noentry3", "noentry3.spi"));
    ASSERT_TRUE(none && half);
    EXPECT_EQ(none->About(), "Plug-in without formats");
    EXPECT_TRUE(none->Extensions().empty() && none->Descriptions().empty());
    EXPECT_TRUE(half->Extensions().empty() && half->Descriptions().empty());

    // A plug-in that answers every number is not asked forever.
    const auto endless = CreateSPI(Put(dir, "endless", "endless.spi"));
    ASSERT_NE(endless, nullptr);
    EXPECT_EQ(endless->Extensions().size(), size_t(TSPI::MaxFormatEntries));
    EXPECT_EQ(endless->Extensions().back(), "*.e" + std::to_string(2 * TSPI::MaxFormatEntries));
}

TEST_F(SPILoadTest, LongOrUnterminatedTextsAreCutAt255Bytes) {
    const auto spi = CreateSPI(Put(Folder("p"), "longtext", "longtext.spi"));
    ASSERT_NE(spi, nullptr);
    EXPECT_EQ(spi->APIVersion(), "00IN"); // text up to its NUL, whatever length was claimed
    EXPECT_EQ(spi->About(), std::string(255, 'a'));
    EXPECT_EQ(spi->Extensions(), std::vector<std::string>{"*.lng"});
    EXPECT_EQ(spi->Descriptions(), std::vector<std::string>{std::string(255, 'd')});

    std::string text = "old";
    EXPECT_EQ(spi->ReadPluginInfo(9, text), -1);
    EXPECT_EQ(text, "");
}

TEST_F(SPILoadTest, RelativeNameBecomesAbsoluteFileName) {
    const std::string dir = Folder("p");
    Put(dir, "in_good", "rel.spi");
    fs::current_path(dir);
    const auto spi = CreateSPI("./sub/../rel.spi");
    EXPECT_EQ(spi, nullptr); // "sub" does not exist, so neither does the file
    const auto plain = CreateSPI("rel.spi");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->FileName(), dir + "/rel.spi");
}

} // namespace

// Loading one plug-in library: classification, export checks, information texts, refusal of
// files that are not plug-ins.

#include "SpiTestSupport.h"

#include <cstring>
#include <sys/stat.h>
#include <typeinfo>

using namespace pictor;
using namespace pictor_test;

namespace {

class SPILoadTest : public SpiTest {
protected:
    const std::string FDir = Folder("p");
    std::unique_ptr<TSPI> Create(const std::string& variant) {
        return CreateSPI(Put(FDir, variant, variant + ".spi"));
    }
};

TEST_F(SPILoadTest, FactoryChoosesTheClassByTypeCodeLoadingTheLibraryTwice) {
    for (auto [variant, type] : {std::pair{"in_good", &typeid(TInSPI)},
                                 {"am", &typeid(TAmSPI)},
                                 {"xn", &typeid(TXnSPI)},
                                 {"abcd", &typeid(TSPI)}}) {
        const std::unique_ptr<TSPI> spi = Create(variant);
        ASSERT_NE(spi, nullptr) << variant;
        EXPECT_EQ(typeid(*spi), *type) << variant;
    }
    // Once to learn the type code, once as the chosen class; unloaded when destroyed.
    EXPECT_EQ(LogCount("info in_good 0"), 2);
    EXPECT_EQ(LogCount("unload in_good"), LogCount("load in_good"));
    EXPECT_FALSE(IsMapped(FDir + "/in_good.spi"));
}

TEST_F(SPILoadTest, MissingRequiredExportNamesItAndThePlugIn) {
    for (auto [variant, missing] : {std::pair{"in_nopicture", "GetPicture"},
                                    {"in_nosupported", "IsSupported"},
                                    {"in_nopictureinfo", "GetPictureInfo"}, // checked in order
                                    {"noinfo", "GetPluginInfo"}}) {
        const std::string path = FDir + "/" + variant + ".spi", name = variant;
        EXPECT_EQ(ErrorOf<ESPIInvalidAPI>([&] { Create(name); }),
                  std::string(missing) + "は[" + path + "]では使えないSusie Plugin APIです");
        EXPECT_FALSE(IsMapped(path)); // the half-built object unloaded it
    }
}

TEST_F(SPILoadTest, FilesThatAreNotPlugInsAreRefusedQuietly) {
    std::string elf32(64, '\0');
    std::memcpy(elf32.data(), "\177ELF\1\1\1", 7); // 32-bit class
    const std::string elf64Start = ReadFile(PICTOR_SPI_FIXTURES "/in_good.spi").substr(0, 20);
    ASSERT_EQ(::mkfifo((FDir + "/fifo.spi").c_str(), 0600), 0); // must not block
    for (const std::string& path : {
             Write(FDir + "/bad.spi", "this is a text file, not a plug-in\n"),
             Write(FDir + "/win.spi", std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(200, 0)),
             Write(FDir + "/elf32.spi", elf32),
             Write(FDir + "/truncated.spi", elf64Start),
             Write(FDir + "/empty.spi", ""),
             FDir + "/missing.spi",
             Folder("p/folder.spi"),
             FDir + "/fifo.spi",
             Put(FDir, "abi2", "abi2.spi"),
         })
        EXPECT_EQ(CreateSPI(path), nullptr) << path;
    // Refused by its PictorSpiAbi answer after loading, and unloaded again.
    EXPECT_EQ(LogCount("load abi2"), 1);
    EXPECT_FALSE(IsMapped(FDir + "/abi2.spi"));
    EXPECT_EQ(ErrorOf<ESPIFOpenErrorSPI>([&] { TSPI::Load<TSPI>(FDir + "/bad.spi"); }),
              FDir + "/bad.spi:Susie Pluginがロードできませんでした");
}

TEST_F(SPILoadTest, FormatEntriesNeedPatternAndDescriptionAndAreCapped) {
    const auto none = Create("noentries"), half = Create("noentry3"), endless = Create("endless");
    ASSERT_TRUE(none && half && endless);
    EXPECT_TRUE(none->Extensions().empty() && none->Descriptions().empty());
    EXPECT_TRUE(half->Extensions().empty() && half->Descriptions().empty());
    // A plug-in that answers every number is not asked forever.
    EXPECT_EQ(endless->Extensions().size(), size_t(TSPI::MaxFormatEntries));
    EXPECT_EQ(endless->Extensions().back(), "*.e" + std::to_string(2 * TSPI::MaxFormatEntries));
}

TEST_F(SPILoadTest, LongOrUnterminatedTextsAreCutAt255Bytes) {
    const auto spi = Create("longtext");
    ASSERT_NE(spi, nullptr);
    EXPECT_EQ(spi->APIVersion(), "00IN"); // text up to its NUL, whatever length was claimed
    EXPECT_EQ(spi->About(), std::string(255, 'a'));
    EXPECT_EQ(spi->Extensions(), NameList{"*.lng"});
    EXPECT_EQ(spi->Descriptions(), NameList{std::string(255, 'd')});
    std::string text = "old";
    EXPECT_EQ(spi->ReadPluginInfo(9, text), -1);
    EXPECT_EQ(text, "");
}

TEST_F(SPILoadTest, RelativeNameBecomesAbsoluteFileName) {
    Put(FDir, "in_good", "rel.spi");
    fs::current_path(FDir);
    EXPECT_EQ(CreateSPI("./sub/../rel.spi"), nullptr); // ".." is left to the kernel: no "sub"
    const auto spi = CreateSPI("rel.spi");
    ASSERT_NE(spi, nullptr);
    EXPECT_EQ(spi->FileName(), FDir + "/rel.spi");
}

} // namespace

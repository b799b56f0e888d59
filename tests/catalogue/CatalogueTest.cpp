#include <gtest/gtest.h>

#include <random>

#include "base/FileSystem.h"
#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "support/ScratchFolder.h"
#include "text/Text.h"

namespace {

// Runs each test as if the program lived in a fresh folder.
class CatalogueFiles : public ::testing::Test {
protected:
    void SetUp() override {
        previous = ModCommon::programFolder();
        ModCommon::setProgramFolder(folder.path());
    }
    void TearDown() override { ModCommon::setProgramFolder(previous); }
    std::string data(const std::string& sName = "") const { return folder.path() + "\\data\\" + sName; }
    static std::string contents(const std::string& sPath) {
        std::string text;
        EXPECT_TRUE(FileSystem().ReadAll(sPath, text)) << sPath;
        return text;
    }
    static void write(const std::string& sPath, const std::string& sText) {
        FileSystem().CreateTextFile(sPath, true);
        ASSERT_TRUE(FileSystem().Append(sPath, sText));
    }

    ScratchFolder folder;
    std::string previous;
};

TEST_F(CatalogueFiles, AppendCreatesTheDataFolderAndAddsBytesUnchanged) {
    ASSERT_FALSE(FileSystem().FolderExists(data()));
    appendTextFile("r;", data("em_lst.lcl"));
    EXPECT_EQ(contents(data("em_lst.lcl")), "r;");
    appendTextFile("s", data("em_lst.lcl"));
    appendTextFile(" t_X_1.f#;\r\n", data("em_lst.lcl"));
    EXPECT_EQ(contents(data("em_lst.lcl")), "r;s t_X_1.f#;\r\n");
}

TEST_F(CatalogueFiles, MissingLocalCatalogueIsCreatedEmptyByTheFirstRead) {
    EXPECT_EQ(readLocalCatalogue(), "");
    EXPECT_TRUE(FileSystem().FileExists(data("em_lst.lcl")));
    EXPECT_EQ(contents(data("em_lst.lcl")), "");
}

TEST_F(CatalogueFiles, ReadKeepsEveryByteButOuterBlanks) {
    std::string all;
    for (int c = 0x80; c <= 0xFF; ++c) all.push_back(static_cast<char>(c));
    appendTextFile(all + ";", data("em_lst.lcl"));
    EXPECT_EQ(readLocalCatalogue(), all + ";");

    const std::string withNul("a_X_1.f#;\0\0b_X_2.f#;", 21);
    write(data("em_lst.srv"), "  " + withNul + "\r\n  ");
    EXPECT_EQ(readTextFile(data("em_lst.srv")), withNul + "\r\n");
}

TEST_F(CatalogueFiles, ExistenceTestsNeverEmptyAFileAndReportFailure) {
    ensureFolder(data());
    write(data("em_lst.lcl"), "kept;");
    EXPECT_TRUE(fileExists(data("em_lst.lcl"), true));
    EXPECT_EQ(contents(data("em_lst.lcl")), "kept;");

    EXPECT_FALSE(fileExists(data("new.txt"), false));
    EXPECT_TRUE(fileExists(data("new.txt"), true));
    EXPECT_TRUE(fileExists(data("new.txt"), false));

    EXPECT_FALSE(fileExists(data("missing\\x.txt"), true));
    EXPECT_FALSE(ensureFolder(data("missing\\deeper")));
    EXPECT_TRUE(ensureFolder(data("missing")));
    EXPECT_TRUE(ensureFolder(data("missing")));
}

TEST_F(CatalogueFiles, ReadOfAnUnreadablePathGivesEmptyText) {
    ensureFolder(data("a folder"));
    EXPECT_EQ(readTextFile(data("a folder")), "");
    EXPECT_EQ(readTextFile(data("missing\\em_lst.srv")), "");
}

// --- magazine names --------------------------------------------------------------------

class CatalogueMagazines : public CatalogueFiles {
protected:
    void writeSettings(const std::string& sMags) {
        ensureFolder(data());
        write(data("VORK.ini"), "[CONFIG]\r\nver=1.0\r\nXY=Config only\r\n[MAGS]\r\n" + sMags);
    }
};

TEST_F(CatalogueMagazines, LooksUpTheExactCodeOrSaysUknown) {
    writeSettings("AB=  Alpha Beta  \r\nCd=Mixed\r\nEF=   \r\nGH=\r\n");
    EXPECT_EQ(magazineName("AB"), "Alpha Beta");
    EXPECT_EQ(magazineName("Cd"), "Mixed");
    EXPECT_EQ(magazineName("ab"), "UKNOWN");
    EXPECT_EQ(magazineName("CD"), "UKNOWN");
    EXPECT_EQ(magazineName("EF"), "UKNOWN");
    EXPECT_EQ(magazineName("GH"), "UKNOWN");
    EXPECT_EQ(magazineName("XY"), "UKNOWN");
    EXPECT_EQ(magazineName(""), "UKNOWN");
}

TEST_F(CatalogueMagazines, FollowsTheFileAsTheServerReplacesIt) {
    EXPECT_EQ(magazineName("AB"), "UKNOWN");
    writeSettings("AB=First\r\n");
    EXPECT_EQ(magazineName("AB"), "First");
    Sleep(20);
    writeSettings("AB=Second name\r\n");
    EXPECT_EQ(magazineName("AB"), "Second name");
}

// --- records ------------------------------------------------------------------------------

TEST(CatalogueRecord, IssueNumber) {
    int16_t n = -1;
    EXPECT_TRUE(issueNumber("007.f#", n));
    EXPECT_EQ(n, 7);
    EXPECT_TRUE(issueNumber("12.5.pdf", n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(issueNumber("32767.f#", n));
    EXPECT_EQ(n, 32767);
    EXPECT_TRUE(issueNumber("-32768.f#", n));
    EXPECT_EQ(n, -32768);

    n = 99;
    for (const char* bad : {"7", "32768.f#", "-32769.f#", "12a.f#", "x.f#", ".f#", "", "99999999999.f#"})
        EXPECT_FALSE(issueNumber(bad, n)) << bad;
    EXPECT_EQ(n, 99);
}

TEST(CatalogueRecord, TypedFileNameAndIssueFileName) {
    EXPECT_EQ(typedFileName("x_Y_1.f#", "torrent"), "x_Y_1.torrent");
    EXPECT_EQ(typedFileName("f#_Y_1.f#", "pdf"), "pdf_Y_1.pdf");
    EXPECT_EQ(typedFileName("a_F#_1.f#f", "pdf"), "a_F#_1.pdff");
    EXPECT_EQ(typedFileName("a_b_1.x", "pdf"), "a_b_1.x");

    EXPECT_TRUE(isIssueFileName("a_b_c.pdf"));
    EXPECT_TRUE(isIssueFileName("__"));
    EXPECT_FALSE(isIssueFileName("ab_c.pdf"));
}

TEST(CatalogueRecord, SplitDropsThePieceAfterTheLastSeparator) {
    using Records = std::vector<std::string>;
    EXPECT_EQ(splitServerCatalogue("a_X_1.f#;b_X_2.f#"), Records{"a_X_1.f#"});
    EXPECT_EQ(splitServerCatalogue("  a_X_1.f#;b_X_2.f#;  "), (Records{"a_X_1.f#", "b_X_2.f#"}));
    EXPECT_TRUE(splitServerCatalogue("").empty());
    EXPECT_TRUE(splitServerCatalogue("     ").empty());
    EXPECT_TRUE(splitServerCatalogue("no separator").empty());
    // Line breaks are not separators: they open the next record.
    EXPECT_EQ(splitServerCatalogue("a_X_1.f#;\r\nb_X_2.f#;"), (Records{"a_X_1.f#", "\r\nb_X_2.f#"}));
    EXPECT_EQ(splitServerCatalogue("a;;\xE9\x80;"), (Records{"a", "", "\xE9\x80"}));
}

// --- known and new -----------------------------------------------------------------------

TEST(CatalogueKnown, SubstringSemantics) {
    KnownRecords removedLast("a_X_1.f#;b_X_2.f#");
    EXPECT_TRUE(removedLast.isKnown("a_X_1.f#"));
    EXPECT_TRUE(removedLast.isKnown("b_X_2.f#"));

    EXPECT_TRUE(KnownRecords("aa_X_1.f#;").isKnown("a_X_1.f#"));
    EXPECT_FALSE(KnownRecords("A_X_1.f#;").isKnown("a_X_1.f#"));
    EXPECT_FALSE(KnownRecords("").isKnown("a_X_1.f#"));

    const std::string longRecord = "The Long Winter Special_ABCD_1234.f#";
    KnownRecords local("Other Issue_AB_1.f#;" + longRecord + ";Tail_T_9.f#");
    EXPECT_TRUE(local.isKnown(longRecord));
    EXPECT_TRUE(local.isKnown(longRecord.substr(3, 20)));
    EXPECT_FALSE(local.isKnown("The Long Winter Special_ABCD_1235.f#"));
    EXPECT_FALSE(local.isKnown("he Long Winter Special_ABCD_1234.f#;X"));
}

// The index must answer exactly as a plain search, at every alignment, for
// texts built from few letters (so that grams repeat) and for every length.
TEST(CatalogueKnown, AgreesWithAPlainSearch) {
    std::mt19937 rng(12345);
    auto randomText = [&](size_t n, const char* alphabet, size_t letters) {
        std::string s(n, ' ');
        for (char& c : s) c = alphabet[rng() % letters];
        return s;
    };
    size_t known = 0, checked = 0;
    for (int round = 0; round < 20; ++round) {
        const std::string text = randomText(2000 + round * 97, "ab_;\xE9\0", round % 2 ? 3 : 6);
        KnownRecords index(text);
        for (int i = 0; i < 400; ++i) {
            std::string probe;
            if (i % 2) {
                const size_t len = rng() % 60;
                const size_t at = rng() % (text.size() - len);
                probe = text.substr(at, len);
                if (i % 4 == 1 && !probe.empty())
                    probe[rng() % probe.size()] ^= 1;  // a near miss
            } else {
                probe = randomText(rng() % 40, "ab_", 3);
            }
            const bool expected = text.find(probe) != std::string::npos;
            ASSERT_EQ(index.isKnown(probe), expected) << "round " << round << " probe '" << probe << "'";
            known += expected;
            ++checked;
        }
    }
    // Both answers must have been exercised.
    EXPECT_GT(known, checked / 4);
    EXPECT_LT(known, checked * 3 / 4);
}

// --- names from the server --------------------------------------------------------------

TEST(CatalogueSafety, LibraryNames) {
    for (const char* good : {"Alpha Beta", "Caf\xE9 Mag", "a.b", " lead", "CONSOLE", "COM10", "LPT0",
                             "NULL.txt", "AUXx", "#1 & more", "x_y_1.pdf"})
        EXPECT_TRUE(isSafeLibraryName(good)) << good;
    for (const char* bad : {"",         ".",      "..",     "...",  "a\\b",     "a/b",        "C:",
                            "a*",       "a?",     "a\"b",   "<a>",  "a|b",      "tab\there",  "nl\n",
                            "dots.",    "blank ", "CON",    "con",  "Prn.txt",  "aux.tar.gz", "NUL ",
                            "nul .pdf", "COM1",   "com9.x", "LPT1", "lpt5.pdf", "CONIN$",     "COM\xC2\xB9"})
        EXPECT_FALSE(isSafeLibraryName(bad)) << bad;
    EXPECT_FALSE(isSafeLibraryName(std::string("a\0b", 3)));
}

TEST(CatalogueSafety, Records) {
    for (const char* good : {"Winter Issue_AB_12.f#", "a_X_1.f#", "x_y_z_w.f#"})
        EXPECT_TRUE(isSafeRecord(good)) << good;
    for (const char* bad : {"", "Winter Issue_AB_12.pdf", "ab_12.f#", "a_X_1.f#x", "..\\..\\evil_X_1.f#",
                            "a_X_1/../../b.f#", "C:_X_1.f#", "\r\nWinter_AB_12.f#", "NUL_X_1.f#x", "f#"})
        EXPECT_FALSE(isSafeRecord(bad)) << bad;
    EXPECT_FALSE(isSafeRecord("CON._X_1.f#"));
}

// Bytes from the server read as UTF-8 where they are well-formed UTF-8, else
// in the code page (1252 here); the checks take the name that is saved.
TEST(CatalogueSafety, DecodedNames) {
    const std::string lodz = "\xC5\x81\xC3\xB3" "d\xC5\xBA Weekly_WK_2.f#";
    EXPECT_EQ(Text::decode(lodz), lodz);
    EXPECT_EQ(Text::decode("Caf\xE9 Culture"), "Caf\xC3\xA9 Culture");
    EXPECT_EQ(Text::decode("Plain_AB_1.f#"), "Plain_AB_1.f#");
    // Overlong, surrogate, too large, cut short: none is UTF-8, none becomes a separator.
    for (const char* bad : {"a\xC0\xAF" "b", "a\xE0\x80\xAF" "b", "a\xF0\x80\x80\xAF" "b", "a\xC1\x9C" "b",
                            "\xED\xA0\x80", "\xF4\x90\x80\x80", "Caf\xC3"}) {
        EXPECT_FALSE(Text::isUtf8(bad)) << bad;
        EXPECT_TRUE(Text::isUtf8(Text::decode(bad))) << bad;
        EXPECT_EQ(Text::decode(bad).find_first_of("/\\"), std::string::npos) << bad;
    }
    EXPECT_TRUE(isSafeRecord(Text::decode(lodz)));
    EXPECT_TRUE(isSafeLibraryName(Text::decode("Wiadomo\xC5\x9B" "ci")));
    for (const char* bad : {"COM\xB9", "lpt\xC2\xB2.pdf", "Caf\xE9 \x1F", "Wiadomo\xC5\x9B" "ci."})
        EXPECT_FALSE(isSafeLibraryName(Text::decode(bad))) << bad;
}

}  // namespace

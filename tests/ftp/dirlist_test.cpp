// cDirList, the OLE dates of listings and the percent text: no server needed.
#include <gtest/gtest.h>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "ftp/cDirList.h"
#include "ftp/modFTP.h"

TEST(DirList, AddSplitsAttributesAndKeepsOrder) {
    cDirList list;
    cDirItem& dir = list.Add(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, 1, 2, 3, 0, "Alpine Boating");
    EXPECT_TRUE(dir.Directory);
    EXPECT_TRUE(dir.Hidden);
    EXPECT_FALSE(dir.Archive || dir.Normal || dir.ReadOnly || dir.System);
    cDirItem& file = list.Add(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_COMPRESSED |
                                  FILE_ATTRIBUTE_OFFLINE,
                              4, 5, 6, 510, "em_lst.srv");
    EXPECT_TRUE(file.Normal && file.Archive && file.ReadOnly && file.System && file.Temporary && file.Compressed &&
                file.Offline);
    EXPECT_FALSE(file.Directory);
    EXPECT_EQ(6, file.LastWriteTime);
    EXPECT_EQ(2, list.Count());

    std::vector<std::string> names;
    for (const cDirItem& d : list)
        names.push_back(d.Filename);
    EXPECT_EQ((std::vector<std::string>{"Alpine Boating", "em_lst.srv"}), names);
    EXPECT_EQ(&list.Item(1), &list.Item("Alpine Boating"));
    EXPECT_EQ(&list.Item(2), &list.Item("em_lst.srv"));
    // References from Add stay valid while the list grows.
    for (int i = 0; i < 100; ++i)
        list.Add(0, 0, 0, 0, i, std::to_string(i).insert(0, 1, 'f'));
    EXPECT_EQ("Alpine Boating", dir.Filename);
}

TEST(DirList, SizesFromTwoGiBKeepTheirWholeValue) {
    cDirList list;
    const int64_t threeGiB = 3LL << 30;
    cDirItem& d = list.Add(0, 0, 0, 0, threeGiB, "big.pdf");
    EXPECT_EQ(threeGiB, d.FileSizeFull);
    EXPECT_EQ(static_cast<int32_t>(0xC0000000u), d.FileSize);  // the low 32 bits, as before
    EXPECT_EQ(510, list.Add(0, 0, 0, 0, 510, "small.pdf").FileSize);
}

TEST(DirList, MissingEntriesAndRepeatedNamesAreErrors) {
    cDirList list;
    EXPECT_THROW(list.Item(1), std::out_of_range);
    list.Add(0, 0, 0, 0, 1, "a.pdf");
    list.Add(0, 0, 0, 0, 2, "A.pdf");  // servers are case-sensitive
    EXPECT_THROW(list.Add(0, 0, 0, 0, 3, "a.pdf"), std::invalid_argument);
    EXPECT_EQ(2, list.Count());
    EXPECT_EQ(1, list.Item("a.pdf").FileSize);
    EXPECT_THROW(list.Item(0), std::out_of_range);
    EXPECT_THROW(list.Item(3), std::out_of_range);
    EXPECT_THROW(list.Item("b.pdf"), std::out_of_range);
}

TEST(DirList, ClearEmptiesListAndKeys) {
    cDirList list;
    for (const char* name : {"1", "2", "3", "4", "5"})
        list.Add(0, 0, 0, 0, 0, name);
    list.Clear();
    EXPECT_EQ(0, list.Count());
    EXPECT_THROW(list.Item("3"), std::out_of_range);
    EXPECT_NO_THROW(list.Add(0, 0, 0, 0, 0, "3"));
}

static FILETIME utcOfLocal(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, 0, 0};
    FILETIME local{}, utc{};
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

TEST(FileTime, LocalClockTimeAsOleDate) {
    EXPECT_DOUBLE_EQ(36526.0, modFTP::fileTimeToDate(utcOfLocal(2000, 1, 1, 0, 0)));
    EXPECT_DOUBLE_EQ(36526.5, modFTP::fileTimeToDate(utcOfLocal(2000, 1, 1, 12, 0)));
    EXPECT_NEAR(36526.0 + 18.25 / 24, modFTP::fileTimeToDate(utcOfLocal(2000, 1, 1, 18, 15)), 1e-9);
    EXPECT_DOUBLE_EQ(2.0, modFTP::fileTimeToDate(utcOfLocal(1900, 1, 1, 0, 0)));
}

// Run once per time zone (see CMakeLists.txt): the same UTC instant gives
// different dates, shifted by the zone's offset.
TEST(FileTimeZone, SameInstantShiftsWithTheZone) {
    const char* offset = std::getenv("TOLV_EXPECT_UTC_OFFSET_MIN");
    ASSERT_NE(nullptr, offset) << "run by CTest with a time zone";
    SYSTEMTIME st{2000, 1, 0, 1, 0, 0, 0, 0};  // 2000-01-01 00:00 UTC, no summer time anywhere relevant
    FILETIME utc{};
    SystemTimeToFileTime(&st, &utc);
    EXPECT_NEAR(36526.0 + std::atoi(offset) / 1440.0, modFTP::fileTimeToDate(utc), 1e-9);
}

TEST(ProgressText, PercentRoundsHalfToEven) {
    EXPECT_EQ("45% complete.", modFTP::progressText(45, 100));
    EXPECT_EQ("12% complete.", modFTP::progressText(1, 8));   // 12.5
    EXPECT_EQ("38% complete.", modFTP::progressText(3, 8));   // 37.5
    EXPECT_EQ("0% complete.", modFTP::progressText(1, 200));  // 0.5
    EXPECT_EQ("2% complete.", modFTP::progressText(3, 200));  // 1.5
    EXPECT_EQ("100% complete.", modFTP::progressText(199, 200));
    EXPECT_EQ("67% complete.", modFTP::progressText(2, 3));
    EXPECT_EQ("0% complete.", modFTP::progressText(0, 510));
}

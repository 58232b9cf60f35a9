// When the panes are repainted and when the log is written, without a window: the fast mode's
// pace and its batched log must neither lose news nor put an entry into another day's file.
#include "app/bridge/PushPacer.h"
#include "app/bridge/TrafficLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Step = CPushPacer::Step;

TEST(PushPacer, NewsIsShownAtOnceOrAtTheEndOfItsPeriod) {
    CPushPacer unpaced;
    EXPECT_EQ(unpaced.News(), Step::Push);
    EXPECT_EQ(unpaced.News(), Step::Push);

    CPushPacer paced;
    paced.SetPaced(true);
    const struct {
        bool news; // news, or the end of a period
        Step step;
    } steps[] = {
        {true, Step::PushAndRun}, {true, Step::Wait},       {true, Step::Wait},
        {false, Step::Push},      {false, Step::Stop},      {true, Step::PushAndRun},
        {false, Step::Stop},      {true, Step::PushAndRun},
    };
    int i = 0;
    for (const auto& s : steps) {
        EXPECT_EQ(s.news ? paced.News() : paced.PeriodEnd(), s.step) << "step " << i;
        ++i;
    }
}

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(TrafficLog, EntriesReachTheirOwnDaysFileAtOnceOrAtTheFlush) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("varnel-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir);
    const std::string day1 = (dir / "2026-12-06.log").string();
    const std::string day2 = (dir / "2026-12-07.log").string();
    {
        CTrafficLog log;
        log.Write(day1, "a");
        EXPECT_EQ(Contents(day1), "a"); // at once

        log.SetBatched(true);
        log.Write(day1, "b");
        log.Write(day1, "c");
        EXPECT_EQ(Contents(day1), "a");
        log.Write(day2, "d"); // a new day: the old day's entries are written first
        EXPECT_EQ(Contents(day1), "abc");
        EXPECT_FALSE(fs::exists(day2));
        log.Flush();
        EXPECT_EQ(Contents(day2), "d");
        log.Write(day2, "e");
    } // what still waits is written when the log goes
    EXPECT_EQ(Contents(day2), "de");
    fs::remove_all(dir);
}

} // namespace

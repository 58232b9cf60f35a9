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

    // LOG=0 writes nothing; a file that cannot be written is told once until a write succeeds.
    CTrafficLog log;
    log.SetEnabled(false);
    log.Write(day1, "f");
    EXPECT_EQ(Contents(day1), "abc");
    log.SetEnabled(true);
    const std::string blocked = (dir / "no-such-folder" / "2026-12-08.log").string();
    log.Write(blocked, "g");
    log.Write(blocked, "h");
    EXPECT_EQ(log.TakeFailure(), blocked);
    log.Write(blocked, "i");
    EXPECT_EQ(log.TakeFailure(), "");
    log.Write(day1, "j");
    log.Write(blocked, "k");
    EXPECT_EQ(log.TakeFailure(), blocked);
    fs::remove_all(dir);
}

// LOGDAYS: which files of the folder are logs of a day gone by more than N days.
TEST(TrafficLog, ExpiredLogsAreDailyFilesOlderThanTheDaysKept) {
    const SYSTEMTIME today{2026, 3, 0, 2, 10, 0, 0, 0};
    const struct {
        const char* name;
        int days;
        bool expired;
    } rows[] = {
        {"2026-02-28.log", 1, true},         {"2026-03-01.log", 1, false},
        {"2026-03-01.events.log", 1, false}, {"2026-02-28.events.log", 1, true},
        {"2025-03-02.log", 365, false},      {"2025-03-01.log", 365, true},
        {"2026-02-28.log", 0, false},        {"VarnelConfig.ini", 1, false},
        {"2026-02-2x.log", 1, false},        {"2026-13-01.log", 1, false},
        {"varnel-headless.log", 1, false},   {"2026-02-28.log.bak", 1, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsExpiredLog(row.name, today, row.days), row.expired) << row.name << row.days;
}

} // namespace

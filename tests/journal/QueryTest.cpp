// Reading the journal back: fetch, filters, per-nozzle totals, acknowledgement,
// prune; and a full disk.
#include <sys/mount.h>

#include "JournalFixture.h"

namespace zarvik::journal::test {
namespace {

using QueryTest = JournalFixture;

// A sale on NOZZLE of line 1 dispenser DISPENSER started at START that ended at
// END with LITRES (at 50 a litre); END 0: left delivering.
SaleId Made(Journal& journal, int dispenser, int nozzle, int start, int end, double litres) {
    const SaleId id = journal.Begin({{1, dispenser, nozzle}, {PresetKind::Money, 500.0}, 50.0, 0.0, At(start)});
    journal.MarkSent(id, At(start));
    if (end != 0)
        journal.Finish(id, {litres, litres * 50.0, litres, false, At(end)});
    else
        journal.Observe(id, SaleState::Delivering, At(start));
    return id;
}

std::vector<SaleId> Ids(const std::vector<Sale>& sales) {
    std::vector<SaleId> ids;
    for (const auto& sale : sales) ids.push_back(sale.id);
    return ids;
}

TEST_F(QueryTest, List_KeepsToEveryGivenField) {
    Journal journal = Journal::Open(path_);
    const SaleId a = Made(journal, 1, 1, 10, 20, 5.0);
    const SaleId b = Made(journal, 2, 1, 30, 0, 0.0);
    const SaleId c = Made(journal, 2, 2, 40, 50, 7.0);
    journal.Acknowledge(c, At(60));
    struct Case {
        const char* name;
        SaleFilter filter;
        std::vector<SaleId> ids;
    };
    const std::vector<Case> cases = {
        {"all", {}, {a, b, c}},
        {"state", {.state = SaleState::Finished}, {a, c}},
        {"dispenser", {.dispenser = 2}, {b, c}},
        {"other line", {.line = 2}, {}},
        {"from", {.from = At(30)}, {b, c}},
        {"to", {.to = At(30)}, {a}},
        {"period and pump", {.from = At(10), .to = At(45), .dispenser = 2}, {b, c}},
        {"not acknowledged", {.acknowledged = false}, {a, b}},
        {"acknowledged", {.acknowledged = true}, {c}},
        {"limit", {.limit = 2}, {a, b}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Ids(journal.List(c.filter)), c.ids);
    }
    EXPECT_FALSE(journal.Fetch(9999));
}

TEST_F(QueryTest, Totals_PerNozzleForSalesEndedInThePeriod) {
    Journal journal = Journal::Open(path_);
    Made(journal, 1, 1, 10, 20, 5.0);
    Made(journal, 1, 1, 30, 40, 2.5);
    Made(journal, 1, 2, 30, 40, 1.0);
    Made(journal, 1, 2, 50, 0, 0.0);    // open: no volume yet
    Made(journal, 1, 2, 50, 100, 9.0);  // ended after the period
    const SaleId failed = journal.Begin({{1, 1, 1}, {PresetKind::Litres, 3.0}, 50.0, 0.0, At(30)});
    journal.MarkFailed(failed, "refused", At(30));
    const auto totals = journal.Totals(At(20), At(100));
    ASSERT_EQ(totals.size(), 2u);
    EXPECT_EQ(totals[0].where, (NozzleKey{1, 1, 1}));
    EXPECT_EQ(totals[0].sales, 2);
    EXPECT_DOUBLE_EQ(totals[0].litres, 7.5);
    EXPECT_DOUBLE_EQ(totals[0].money, 375.0);
    EXPECT_EQ(totals[1].where, (NozzleKey{1, 1, 2}));
    EXPECT_EQ(totals[1].sales, 1);
    EXPECT_DOUBLE_EQ(totals[1].litres, 1.0);
}

TEST_F(QueryTest, Acknowledge_OnlyEndedSalesOnce_AndPruneOnlyOldAcknowledgedOnes) {
    Journal journal = Journal::Open(path_);
    const SaleId open = Made(journal, 1, 1, 10, 0, 0.0);
    const SaleId oldAcked = Made(journal, 1, 2, 10, 20, 1.0);
    const SaleId oldKept = Made(journal, 1, 3, 10, 20, 1.0);
    const SaleId newAcked = Made(journal, 1, 4, 10, 200, 1.0);
    struct Case {
        SaleId id;
        AckResult result;
    };
    for (const Case& c : std::vector<Case>{{open, AckResult::NotEnded},
                                           {oldAcked, AckResult::Done},
                                           {oldAcked, AckResult::Already},
                                           {newAcked, AckResult::Done},
                                           {9999, AckResult::NotFound}}) {
        EXPECT_EQ(journal.Acknowledge(c.id, At(300)), c.result) << c.id;
    }
    EXPECT_EQ(journal.Fetch(oldAcked)->acknowledgedAt, At(300));
    EXPECT_EQ(journal.Prune(At(100)), 1);
    EXPECT_EQ(Ids(journal.List({})), (std::vector<SaleId>{open, oldKept, newAcked}));
    // An id is never given again after a prune.
    EXPECT_GT(Made(journal, 1, 2, 400, 0, 0.0), newAcked);
}

TEST_F(QueryTest, FullDisk_RefusesNewSales_WhileExistingOnesAndReadsWork) {
    Journal journal = Journal::Open(path_, {.reserveBytes = 0, .maxPages = 8});
    std::vector<SaleId> sales;
    bool full = false;
    for (int i = 0; i < 10000 && !full; ++i) {
        try {
            sales.push_back(journal.Begin({{1, 1, 1}, {PresetKind::Litres, 1.0}, 50.0, 0.0, At(i)}));
        } catch (const JournalFull&) {
            full = true;
        }
    }
    ASSERT_TRUE(full);
    ASSERT_FALSE(sales.empty());
    EXPECT_THROW(journal.Begin({{1, 1, 1}, {PresetKind::Litres, 1.0}, 50.0, 0.0, At(0)}), JournalFull);
    const SaleId last = sales.back();
    journal.MarkSent(last, At(1));
    journal.Observe(last, SaleState::Delivering, At(2));
    journal.Finish(last, {1.0, 50.0, 1.0, true, At(3)});
    EXPECT_EQ(journal.Fetch(last)->state, SaleState::Stopped);
    EXPECT_EQ(journal.List({}).size(), sales.size());
}

// The same on a real filesystem that fills (a small tmpfs; skipped where
// mounting is not allowed): the write-ahead log needs room too.
TEST_F(QueryTest, FullFilesystem_RefusesNewSales_WhileExistingOnesAndReadsWork) {
    const auto mountPoint = dir_ / "small";
    std::filesystem::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=8m") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint.string()};
    Journal journal = Journal::Open((mountPoint / "sales.db").string(), {.reserveBytes = 6u << 20});
    std::vector<SaleId> sales;
    for (int i = 0; i < 100000; ++i) {
        try {
            sales.push_back(journal.Begin({{1, 1, 1}, {PresetKind::Litres, 1.0}, 50.0, 0.0, At(i)}));
        } catch (const JournalFull&) {
            break;
        }
    }
    ASSERT_FALSE(sales.empty());
    ASSERT_GT(sales.size(), 20u);
    ASSERT_LT(sales.size(), 100000u);
    for (std::size_t i = sales.size() - std::min<std::size_t>(sales.size(), 20); i < sales.size(); ++i) {
        journal.MarkSent(sales[i], At(1));
        journal.Observe(sales[i], SaleState::Delivering, At(2));
        journal.Finish(sales[i], {1.0, 50.0, 1.0, false, At(3)});
    }
    EXPECT_EQ(journal.Fetch(sales.back())->state, SaleState::Finished);
    EXPECT_EQ(journal.List({.limit = 1000000}).size(), sales.size());
}

}  // namespace
}  // namespace zarvik::journal::test

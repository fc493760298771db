// The journal's writing rules: schema and modes, the order of a sale's
// states, a restart, reconciliation.
#include <sqlite3.h>

#include <limits>
#include <thread>

#include "JournalFixture.h"

namespace zarvik::journal::test {
namespace {

using JournalTest = JournalFixture;

std::string PragmaText(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    std::string text =
        sqlite3_step(stmt) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)) : "";
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return text;
}

TEST_F(JournalTest, Open_IsWalWithSchemaVersion_AndRefusesANewerOne) {
    { Journal::Open(path_); }
    EXPECT_EQ(PragmaText(path_, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(PragmaText(path_, "PRAGMA user_version"), std::to_string(kSchemaVersion));
    PragmaText(path_, "PRAGMA user_version = 99");
    EXPECT_THROW(Journal::Open(path_), JournalError);
    EXPECT_THROW(Journal::Open((dir_ / "no" / "such.db").string()), JournalError);
}

enum class Step { Sent, Failed, SeeAuthorised, SeeDelivering, Finish, Stop };

void Apply(Journal& journal, SaleId id, Step step) {
    switch (step) {
        case Step::Sent:
            return journal.MarkSent(id, At(1));
        case Step::Failed:
            return journal.MarkFailed(id, "refused", At(1));
        case Step::SeeAuthorised:
            return journal.Observe(id, SaleState::Authorised, At(2));
        case Step::SeeDelivering:
            return journal.Observe(id, SaleState::Delivering, At(2));
        case Step::Finish:
            return journal.Finish(id, {10.0, 500.0, 1010.0, false, At(3)});
        case Step::Stop:
            return journal.Finish(id, {4.0, 200.0, 1004.0, true, At(3)});
    }
}

TEST_F(JournalTest, StatesFollowTheSaleAndRefuseWhatCannotHappen) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        bool lastRefused;
        SaleState state;  // after the steps (the refused one changing nothing)
    };
    const std::vector<Case> cases = {
        {"begun", {}, false, SaleState::Authorising},
        {"sent", {Step::Sent}, false, SaleState::Authorised},
        {"not sent", {Step::Failed}, false, SaleState::Failed},
        {"refused after sent", {Step::Sent, Step::Failed}, false, SaleState::Failed},
        {"delivering", {Step::Sent, Step::SeeDelivering}, false, SaleState::Delivering},
        {"never back to authorised",
         {Step::Sent, Step::SeeDelivering, Step::SeeAuthorised},
         false,
         SaleState::Delivering},
        {"finished", {Step::Sent, Step::SeeDelivering, Step::Finish}, false, SaleState::Finished},
        {"stopped", {Step::Sent, Step::Stop}, false, SaleState::Stopped},
        {"observed before sent", {Step::SeeDelivering}, true, SaleState::Authorising},
        {"finished before sent", {Step::Finish}, true, SaleState::Authorising},
        {"sent twice", {Step::Sent, Step::Sent}, true, SaleState::Authorised},
        {"finished twice", {Step::Sent, Step::Finish, Step::Stop}, true, SaleState::Finished},
        {"failed after finish", {Step::Sent, Step::Finish, Step::Failed}, true, SaleState::Finished},
        {"observed after failed", {Step::Failed, Step::SeeDelivering}, true, SaleState::Failed},
    };
    Journal journal = Journal::Open(path_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SaleId id = journal.Begin(Sale());
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            if (c.lastRefused && i + 1 == c.steps.size())
                EXPECT_THROW(Apply(journal, id, c.steps[i]), JournalError);
            else
                Apply(journal, id, c.steps[i]);
        }
        const auto sale = journal.Fetch(id);
        ASSERT_TRUE(sale);
        EXPECT_EQ(sale->state, c.state);
        EXPECT_EQ(sale->endedAt.has_value(), IsEnded(c.state));
    }
    EXPECT_THROW(journal.MarkSent(9999, At(1)), JournalError);
}

TEST_F(JournalTest, FinishKeepsVolumeMoneyAndTotals_FoundDeliveryHasNoPreset) {
    Journal journal = Journal::Open(path_);
    const SaleId id = journal.Begin(Sale(3, 52.5));
    journal.MarkSent(id, At(1));
    journal.Finish(id, {10.0, 525.0, 1010.0, false, At(9)});
    const SaleId found = journal.Found({{1, 2, 4}, 48.0, 700.0, At(10)});
    const auto sale = journal.Fetch(id);
    ASSERT_TRUE(sale);
    EXPECT_EQ(sale->where, (NozzleKey{1, 2, 3}));
    EXPECT_EQ(sale->preset.kind, PresetKind::Litres);
    EXPECT_EQ(sale->totalBefore, 1000.0);
    EXPECT_EQ(sale->totalAfter, 1010.0);
    EXPECT_EQ(sale->litres, 10.0);
    EXPECT_EQ(sale->money, 525.0);
    EXPECT_EQ(sale->endedAt, At(9));
    const auto other = journal.Fetch(found);
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->authorisedHere);
    EXPECT_EQ(other->preset.kind, PresetKind::None);
    EXPECT_EQ(other->state, SaleState::Delivering);
    EXPECT_EQ(other->totalBefore, 700.0);
}

TEST_F(JournalTest, Finish_RefusesAVolumeOrMoneyThatIsNoNumber) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Journal journal = Journal::Open(path_);
    for (const SaleEnd& end : std::vector<SaleEnd>{
             {nan, 50.0, 1001.0, false, At(3)}, {1.0, -50.0, 1001.0, false, At(3)}, {1.0, 50.0, nan, false, At(3)}}) {
        const SaleId id = journal.Begin(Sale());
        journal.MarkSent(id, At(1));
        EXPECT_THROW(journal.Finish(id, end), JournalError);
        EXPECT_EQ(journal.Fetch(id)->state, SaleState::Authorised);
    }
}

TEST_F(JournalTest, Restart_FailsWhatWasNeverSent_AndReturnsTheOpenOnes) {
    SaleId begun, sent, delivering, found;
    {
        Journal journal = Journal::Open(path_);
        begun = journal.Begin(Sale(1));
        sent = journal.Begin(Sale(2));
        journal.MarkSent(sent, At(1));
        delivering = journal.Begin(Sale(3));
        journal.MarkSent(delivering, At(1));
        journal.Observe(delivering, SaleState::Delivering, At(2));
        const SaleId done = journal.Begin(Sale(4));
        journal.MarkSent(done, At(1));
        journal.Finish(done, {1.0, 50.0, 1001.0, false, At(3)});
        found = journal.Found({{1, 3, 1}, 48.0, 5.0, At(4)});
    }
    Journal journal = Journal::Open(path_);
    for (int restart = 0; restart < 2; ++restart) {
        std::vector<SaleId> open;
        for (const auto& sale : journal.Restart(At(100 + restart))) open.push_back(sale.id);
        EXPECT_EQ(open, (std::vector<SaleId>{sent, delivering, found}));
    }
    const auto failed = journal.Fetch(begun);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->state, SaleState::Failed);
    EXPECT_EQ(failed->cause, "not sent before a restart");
    EXPECT_EQ(failed->endedAt, At(100));
    // Never resent: it cannot become authorised any more.
    EXPECT_THROW(journal.MarkSent(begun, At(101)), JournalError);
}

TEST_F(JournalTest, Reconcile_TakesTheVolumeFromTheTotals) {
    struct Case {
        const char* name;
        std::optional<double> before;
        PresentState present;
        bool closed;
        SaleState state;
        std::optional<double> litres;
        std::optional<double> money;
        bool sent = true;  // false: still authorising when the service stopped
    };
    const std::vector<Case> cases = {
        {"totals", 1000.0, {false, 1012.5, At(50)}, true, SaleState::Reconciled, 12.5, 625.0},
        {"counters show that volume",
         1000.0,
         {false, 1012.5, At(50), 12.5, 624.99},
         true,
         SaleState::Reconciled,
         12.5,
         624.99},
        {"counters of another sale",
         1000.0,
         {false, 1012.5, At(50), 3.0, 150.0},
         true,
         SaleState::Reconciled,
         12.5,
         625.0},
        {"unsent, total unchanged", 1000.0, {false, 1000.0, At(50)}, true, SaleState::Failed, {}, {}, false},
        {"unsent, no total", 1000.0, {false, {}, At(50)}, true, SaleState::Failed, {}, {}, false},
        {"unsent but the total moved", 1000.0, {false, 1004.0, At(50)}, true, SaleState::Reconciled, 4.0, 200.0, false},
        {"unsent but delivering", 1000.0, {true, 1001.0, At(50)}, false, SaleState::Delivering, {}, {}, false},
        {"rounded", 1000.1, {false, 1012.2, At(50)}, true, SaleState::Reconciled, 12.1, 605.0},
        {"rounded to the decimal", 2.45, {false, 4.48, At(50)}, true, SaleState::Reconciled, 2.03, 101.5},
        {"nothing delivered", 1000.0, {false, 1000.0, At(50)}, true, SaleState::Reconciled, 0.0, 0.0},
        {"still delivering", 1000.0, {true, 1003.0, At(50)}, false, SaleState::Delivering, {}, {}},
        {"no total before", {}, {false, 1012.5, At(50)}, true, SaleState::Reconciled, {}, {}},
        {"no total now", 1000.0, {false, {}, At(50)}, true, SaleState::Reconciled, {}, {}},
        {"total no number",
         1000.0,
         {false, std::numeric_limits<double>::quiet_NaN(), At(50)},
         true,
         SaleState::Reconciled,
         {},
         {}},
        {"total went back", 1000.0, {false, 990.0, At(50)}, true, SaleState::Reconciled, {}, {}},
    };
    Journal journal = Journal::Open(path_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewSale sale = Sale();
        sale.totalBefore = c.before;
        const SaleId id = journal.Begin(sale);
        if (c.sent) journal.MarkSent(id, At(1));
        EXPECT_EQ(journal.Reconcile(id, c.present), c.closed);
        const auto now = journal.Fetch(id);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->state, c.state);
        EXPECT_EQ(now->litres, c.litres);
        EXPECT_EQ(now->money, c.money);
        if (c.closed && !c.litres) {
            const char* why = c.state == SaleState::Failed ? "not sent" : "volume unknown";
            EXPECT_NE(now->cause.find(why), std::string::npos) << now->cause;
        }
        if (c.closed) {
            EXPECT_THROW(journal.Reconcile(id, c.present), JournalError);
        }
    }
}

// The line workers and the HTTP threads share one journal.
TEST_F(JournalTest, SalesFromSeveralThreadsEachCommitWhole) {
    Journal journal = Journal::Open(path_);
    std::vector<std::thread> threads;
    for (int nozzle = 1; nozzle <= 4; ++nozzle) {
        threads.emplace_back([&journal, nozzle] {
            for (int i = 0; i < 25; ++i) {
                const SaleId id = journal.Begin(Sale(nozzle));
                journal.MarkSent(id, At(1));
                journal.Finish(id, {1.0, 50.0, 1001.0, false, At(2)});
                (void)journal.List({.state = SaleState::Authorised});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(journal.List({.state = SaleState::Finished}).size(), 100u);
    EXPECT_EQ(journal.List({}).size(), 100u);
}

}  // namespace
}  // namespace zarvik::journal::test

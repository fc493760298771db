// What the journal keeps for head office: the upgrade of a version 1 file,
// which ended sales are still to be published, and command ids taken once.
#include <sqlite3.h>

#include "JournalFixture.h"

namespace zarvik::journal::test {
namespace {

class PublishTest : public JournalFixture {
protected:
    static SaleId Ended(Journal& journal, int nozzle, int end) {
        const SaleId id = journal.Begin(Sale(nozzle));
        journal.MarkSent(id, At(0));
        journal.Finish(id, {1.0, 50.0, 1001.0, false, At(end)});
        return id;
    }
};

std::vector<SaleId> PublishIds(const std::vector<Sale>& sales) {
    std::vector<SaleId> ids;
    for (const auto& sale : sales) ids.push_back(sale.id);
    return ids;
}

void RunSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST_F(PublishTest, AVersion1File_IsUpgraded_ItsEndedSalesToBePublished) {
    SaleId old;
    {
        Journal journal = Journal::Open(path_);
        old = Ended(journal, 1, 5);
    }
    // Back to the version 1 layout.
    RunSql(path_,
           "DROP INDEX sales_unpublished; DROP TABLE commands; ALTER TABLE sales DROP COLUMN published_at; "
           "PRAGMA user_version = 1;");
    Journal journal = Journal::Open(path_);
    EXPECT_EQ(PublishIds(journal.Unpublished(10)), std::vector<SaleId>{old});
    EXPECT_TRUE(journal.RememberCommand("c1", At(100), At(0)));
}

TEST_F(PublishTest, Unpublished_EndedSalesOldestEndFirst_UntilMarked) {
    SaleId open, late, early, third;
    {
        Journal journal = Journal::Open(path_);
        open = journal.Begin(Sale(1));
        late = Ended(journal, 2, 30);
        early = Ended(journal, 3, 10);
        third = Ended(journal, 4, 20);
        EXPECT_EQ(PublishIds(journal.Unpublished(2)), (std::vector<SaleId>{early, third}));
        journal.MarkPublished(early, At(40));
        journal.MarkPublished(early, At(41));  // a second acknowledgement changes nothing
        EXPECT_THROW(journal.MarkPublished(open, At(40)), JournalError);
        EXPECT_THROW(journal.MarkPublished(9999, At(40)), JournalError);
    }
    Journal journal = Journal::Open(path_);
    EXPECT_EQ(PublishIds(journal.Unpublished(10)), (std::vector<SaleId>{third, late}));
}

TEST_F(PublishTest, Prune_KeepsUnpublishedSalesWhenAsked) {
    Journal journal = Journal::Open(path_);
    const SaleId published = Ended(journal, 1, 10);
    const SaleId waiting = Ended(journal, 2, 10);
    for (const SaleId id : {published, waiting}) journal.Acknowledge(id, At(11));
    journal.MarkPublished(published, At(12));
    EXPECT_EQ(journal.Prune(At(100), true), 1);
    EXPECT_EQ(PublishIds(journal.Unpublished(10)), std::vector<SaleId>{waiting});
    EXPECT_EQ(journal.Prune(At(100)), 1);
    EXPECT_FALSE(journal.Fetch(waiting));
}

TEST_F(PublishTest, RememberCommand_TakesAnIdOnceUntilItExpires) {
    struct Step {
        const char* id;
        int expires;
        int now;
        bool fresh;
    };
    const std::vector<Step> steps = {
        {"a", 60, 0, true},   {"a", 60, 10, false},  // a repeat
        {"b", 100, 10, true}, {"a", 90, 60, false},  // expires at 60: still held
        {"a", 90, 61, true},                         // forgotten once expired
    };
    {
        Journal journal = Journal::Open(path_);
        for (const Step& s : steps) EXPECT_EQ(journal.RememberCommand(s.id, At(s.expires), At(s.now)), s.fresh) << s.id;
    }
    Journal journal = Journal::Open(path_);  // kept across a restart
    EXPECT_FALSE(journal.RememberCommand("a", At(90), At(62)));
    EXPECT_FALSE(journal.RememberCommand("b", At(90), At(29)));
}

}  // namespace
}  // namespace zarvik::journal::test

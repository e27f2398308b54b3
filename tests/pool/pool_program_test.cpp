// The built c2pool as a user runs it: what add, remove, check and site say, their exit codes,
// and the pool they leave.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/pool/pool_files.h"

namespace {

namespace fs = std::filesystem;
using pool_testing::Contents;
using pool_testing::PassesOf;
using pool_testing::WriteSubmission;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class C2PoolProgram : public testing::Test {
protected:
    testing_support::RunResult Run(const std::vector<std::string>& arguments) {
        return pool_testing::RunC2Pool(dir_.Path(), arguments);
    }
    void ExpectRun(const std::vector<std::string>& arguments, const std::string& out,
                   const std::string& err, int exitCode) {
        const auto run = Run(arguments);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.exitCode, exitCode);
    }
    // A copy of `name` with `from` replaced by `to`.
    void WriteChanged(const std::string& name, const std::string& copy, const std::string& from,
                      const std::string& to) {
        std::string text = testing_support::ReadFileText(dir_ / name);
        text.replace(text.find(from), from.size(), to);
        WriteFileBytes(dir_ / copy, {text.begin(), text.end()});
    }
    TempDir dir_;
};

TEST_F(C2PoolProgram, AddsCountsWhatWasAlreadyThereAndNamesTheFirstRuleBroken) {
    WriteSubmission(dir_ / "a.json", PassesOf("ONE", {"a1", "a2"}));
    WriteSubmission(dir_ / "b.json", PassesOf("TWO", {"b1"}));
    WriteChanged("a.json", "month.json", "\"2026-12\"", "\"2026-13\"");
    WriteChanged("b.json", "image.json", "\"genuine\": true", "\"genuine\": false");
    ExpectRun({"add", "pool.sqlite", "a.json", "b.json", "month.json", "image.json"},
              "2 accepted, 0 already in the pool, 2 refused.\n",
              "\"month.json\" is not a usable Marrowby submission: month: \"2026-13\" is not "
              "a month (\"2026-12\").\n"
              "\"image.json\" was judged against a reference that is not the genuine image: the "
              "pool takes only passes judged against the genuine one.\n",
              1);
    ExpectRun({"add", "pool.sqlite", "b.json", "a.json"},
              "0 accepted, 2 already in the pool, 0 refused.\n", "", 0);
    ExpectRun({"check", "a.json", "month.json"}, "1 valid, 1 refused.\n",
              "\"month.json\" is not a usable Marrowby submission: month: \"2026-13\" is not "
              "a month (\"2026-12\").\n",
              1);
    EXPECT_EQ(Contents(dir_ / "pool.sqlite", 2).submissions, 2);
}

TEST_F(C2PoolProgram, ARefusedSubmissionLeavesThePoolAsItWas) {
    WriteSubmission(dir_ / "a.json", PassesOf("ONE", {"a1"}));
    WriteChanged("a.json", "broken.json", "\"missed\": 1000", "\"missed\": 999");
    ASSERT_EQ(Run({"add", "pool.sqlite", "a.json"}).exitCode, 0);
    const auto before = ReadFileBytes(dir_ / "pool.sqlite");
    const auto run = Run({"add", "pool.sqlite", "broken.json"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "0 accepted, 0 already in the pool, 1 refused.\n");
    EXPECT_EQ(ReadFileBytes(dir_ / "pool.sqlite"), before);
    EXPECT_FALSE(fs::exists(dir_ / "pool.sqlite-wal"));
}

TEST_F(C2PoolProgram, AFolderGivesItsJsonFilesByNameAndNoLink) {
    fs::create_directories(dir_ / "in" / "deeper");
    WriteSubmission(dir_ / "in" / "2.json", PassesOf("ONE", {"second"}));
    WriteSubmission(dir_ / "in" / "1.json", PassesOf("ONE", {"first"}));
    WriteSubmission(dir_ / "in" / "deeper" / "3.json", PassesOf("ONE", {"below"}));
    WriteSubmission(dir_ / "outside.json", PassesOf("ONE", {"outside"}));
    WriteFileBytes(dir_ / "in" / "notes.txt", {'x'});
    fs::create_symlink("../outside.json", dir_ / "in" / "link.json");
    fs::create_directory(dir_ / "in" / "odd.json");
    ExpectRun({"add", "pool.sqlite", "in"}, "2 accepted, 0 already in the pool, 2 refused.\n",
              "\"in/link.json\" is a symbolic link: c2pool reads no links.\n"
              "\"in/odd.json\" is not a regular file: c2pool reads only regular files.\n",
              1);
    const auto contents = Contents(dir_ / "pool.sqlite", 1);
    ASSERT_EQ(contents.ids.size(), 2u);
    // By name: 1.json arrived first.
    const std::string first = testing_support::ReadFileText(dir_ / "in" / "1.json");
    EXPECT_EQ(contents.ids[0], pool::SubmissionId(first));
}

TEST_F(C2PoolProgram, ARemovedSubmissionCannotComeBack) {
    const std::string id = WriteSubmission(dir_ / "a.json", PassesOf("ONE", {"a1"}));
    ASSERT_EQ(Run({"add", "pool.sqlite", "a.json"}).exitCode, 0);
    ExpectRun({"remove", "pool.sqlite", id, "--reason", "the disc was a copy"},
              "Removed " + id + " from \"pool.sqlite\".\n", "", 0);
    ExpectRun({"add", "pool.sqlite", "a.json"}, "0 accepted, 0 already in the pool, 1 refused.\n",
              "\"a.json\" was removed from the pool, and cannot come back: the disc was a copy\n",
              1);
    ExpectRun({"remove", "pool.sqlite", id, "--reason", "again"}, "",
              id + " was removed from \"pool.sqlite\" already: the disc was a copy\n", 1);
    ExpectRun({"remove", "pool.sqlite", "0123456789ab", "--reason", "why"}, "",
              "There is no submission 0123456789ab in \"pool.sqlite\".\n", 1);
    ExpectRun({"remove", "pool.sqlite", "0123", "--reason", "why"}, "",
              "\"0123\" is not a submission id (12 hex digits, as \"0123456789ab\").\n", 1);
    ExpectRun({"remove", "pool.sqlite", id, "--reason", "two\nlines"}, "",
              "The reason must be one line of text, of 1 to 1,000 characters.\n", 1);
    const auto contents = Contents(dir_ / "pool.sqlite", 1);
    EXPECT_EQ(contents.submissions, 0);
    EXPECT_EQ(contents.passes, 0);
}

// The same pass in two submissions counts once, with the first; removing the first hands the
// count to the second.
TEST_F(C2PoolProgram, APassCountsOnceWhicheverSubmissionBroughtIt) {
    const std::string first = WriteSubmission(dir_ / "1.json", PassesOf("ONE", {"p", "q"}));
    const std::string second = WriteSubmission(dir_ / "2.json", PassesOf("TWO", {"r", "p", "p"}));
    ASSERT_EQ(Run({"add", "pool.sqlite", "1.json", "2.json"}).exitCode, 0);
    const auto counted = [&] {
        const auto store =
            pool::Store::Open((dir_ / "pool.sqlite").string(), pool::Store::Access::read);
        std::vector<std::string> seen;
        store->ForEachCountedPass([&](const pool::CountedPass& pass) {
            seen.push_back(pass.model.product + "/" + std::to_string(pass.submission));
        });
        return seen;
    };
    EXPECT_EQ(counted(), (std::vector<std::string>{"ONE/1", "ONE/1", "TWO/2"}));
    {
        const auto store =
            pool::Store::Open((dir_ / "pool.sqlite").string(), pool::Store::Access::read);
        std::vector<std::optional<std::string>> with;
        store->ForEachSubmissionOf({"EXAMPLE", "TWO"}, [&](const pool::ListedSubmission& s) {
            for (const auto& pass : s.passes) {
                with.push_back(pass.countedWith);
            }
        });
        EXPECT_EQ(with, (std::vector<std::optional<std::string>>{std::nullopt, first, first}));
        EXPECT_EQ(store->Models().size(), 2u);
    }
    ASSERT_EQ(Run({"remove", "pool.sqlite", first, "--reason", "r"}).exitCode, 0);
    EXPECT_EQ(counted(), (std::vector<std::string>{"TWO/2", "TWO/2"}));
    const auto store =
        pool::Store::Open((dir_ / "pool.sqlite").string(), pool::Store::Access::read);
    const auto models = store->Models();
    ASSERT_EQ(models.size(), 1u);
    EXPECT_EQ(models[0].model.product, "TWO");
    EXPECT_EQ(store->SubmissionText(second), testing_support::ReadFileText(dir_ / "2.json"));
    EXPECT_EQ(store->SubmissionText(first), std::nullopt);  // only its id and reason stay
}

// The site rewrites a model's page only when its counter moved, and copies the pool for
// download: both must follow every add and removal.
TEST_F(C2PoolProgram, ChangeCountersMoveWithTheirModelAndACopyStandsAlone) {
    WriteSubmission(dir_ / "1.json", PassesOf("ONE", {"a"}));
    WriteSubmission(dir_ / "2.json", PassesOf("TWO", {"b"}));
    const std::string third = WriteSubmission(dir_ / "3.json", PassesOf("ONE", {"c"}));
    const std::string path = (dir_ / "pool.sqlite").string();
    const auto state = [&] {
        const auto store = pool::Store::Open(path, pool::Store::Access::read);
        std::vector<std::int64_t> changes{store->Changes()};
        for (const pool::ModelState& model : store->Models()) {
            changes.push_back(model.changes);
        }
        return changes;
    };
    ASSERT_EQ(Run({"add", "pool.sqlite", "1.json", "2.json"}).exitCode, 0);
    const auto before = state();
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(Run({"add", "pool.sqlite", "3.json"}).exitCode, 0);
    const auto added = state();
    EXPECT_GT(added[0], before[0]);
    EXPECT_GT(added[1], before[1]);  // ONE
    EXPECT_EQ(added[2], before[2]);  // TWO
    ASSERT_EQ(Run({"remove", "pool.sqlite", third, "--reason", "r"}).exitCode, 0);
    const auto removed = state();
    EXPECT_GT(removed[0], added[0]);
    EXPECT_GT(removed[1], added[1]);
    EXPECT_EQ(removed[2], added[2]);

    const auto store = pool::Store::Open(path, pool::Store::Access::read);
    std::string error;
    ASSERT_TRUE(store->CopyTo((dir_ / "copy.sqlite").string(), error)) << error;
    EXPECT_FALSE(store->CopyTo((dir_ / "copy.sqlite").string(), error));
    EXPECT_EQ(error, "Cannot copy the pool to \"" + (dir_ / "copy.sqlite").string() +
                         "\": something is there already.");
    pool::sql::Database copy((dir_ / "copy.sqlite").string(), pool::sql::OpenMode::readWrite);
    EXPECT_EQ(copy.Text("PRAGMA journal_mode"), "delete");
    EXPECT_EQ(copy.Integer("SELECT count(*) FROM submission"), 2);
    EXPECT_EQ(copy.Integer("SELECT count(*) FROM removed"), 1);
    EXPECT_EQ(copy.Integer("SELECT count(*) FROM submission_file"), 2);
}

// While an older reader keeps a change in the log (it may not be copied into the pool's file
// under that reader), the copy cannot be the pool's file alone: it must still hold the change.
TEST_F(C2PoolProgram, ACopyHoldsWhatAnOlderReaderKeepsInTheLog) {
    WriteSubmission(dir_ / "1.json", PassesOf("ONE", {"a"}));
    ASSERT_EQ(Run({"add", "pool.sqlite", "1.json"}).exitCode, 0);
    const std::string path = (dir_ / "pool.sqlite").string();
    pool::sql::Database older(path, pool::sql::OpenMode::readWrite);
    older.Execute("BEGIN; SELECT count(*) FROM removed;");
    pool::sql::Database writer(path, pool::sql::OpenMode::readWrite);
    writer.Execute("INSERT INTO removed(id, reason, month) VALUES('0123456789ab', 'r', '2026-12')");
    {
        const auto store = pool::Store::Open(path, pool::Store::Access::read);
        std::string error;
        ASSERT_TRUE(store->CopyTo((dir_ / "copy.sqlite").string(), error)) << error;
    }
    older.Execute("COMMIT");
    pool::sql::Database copy((dir_ / "copy.sqlite").string(), pool::sql::OpenMode::readWrite);
    EXPECT_EQ(copy.Integer("SELECT count(*) FROM removed"), 1);
    EXPECT_EQ(copy.Integer("SELECT count(*) FROM submission"), 1);
}

TEST_F(C2PoolProgram, WhatIsNotAUsablePoolIsLeftAsItIs) {
    WriteSubmission(dir_ / "a.json", PassesOf("ONE", {"a1"}));
    fs::create_directory(dir_ / "in");
    const auto refused = [&](const std::string& name, const std::string& message) {
        const auto before = ReadFileBytes(dir_ / name);
        ExpectRun({"add", name, "a.json"}, "", message + "\n", 1);
        EXPECT_EQ(ReadFileBytes(dir_ / name), before) << name;
    };
    WriteFileBytes(dir_ / "text.sqlite", {'h', 'e', 'l', 'l', 'o', '\n'});
    refused("text.sqlite",
            "\"text.sqlite\" is not a pool of c2pool (file is not a database): c2pool leaves it "
            "as it is.");
    {
        pool::sql::Database other((dir_ / "other.sqlite").string(), pool::sql::OpenMode::create);
        other.Execute("CREATE TABLE notes(text TEXT)");
    }
    refused("other.sqlite", "\"other.sqlite\" is not a pool of c2pool: c2pool leaves it as it is.");
    ASSERT_EQ(Run({"add", "later.sqlite", "a.json"}).exitCode, 0);
    {
        pool::sql::Database later((dir_ / "later.sqlite").string(), pool::sql::OpenMode::readWrite);
        later.Execute("PRAGMA user_version = 2");
    }
    refused("later.sqlite",
            "\"later.sqlite\" is a pool of another schema version (2; this c2pool reads version "
            "1): c2pool leaves it as it is.");
    ASSERT_EQ(Run({"add", "damaged.sqlite", "a.json"}).exitCode, 0);
    {
        // The table of tables, just after the file's header, overwritten.
        std::fstream file(dir_ / "damaged.sqlite", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file << std::string(200, '\x5A');
    }
    refused("damaged.sqlite",
            "\"damaged.sqlite\" is damaged (database disk image is malformed): c2pool leaves it "
            "as it is.");
    fs::create_symlink("later.sqlite", dir_ / "link.sqlite");
    ExpectRun({"add", "link.sqlite", "a.json"}, "",
              "\"link.sqlite\" is a symbolic link: c2pool opens only a regular file as a pool.\n",
              1);
    ExpectRun({"site", "missing.sqlite", "site"}, "", "There is no pool at \"missing.sqlite\".\n",
              1);
    ExpectRun({"add", "in", "a.json"}, "",
              "\"in\" is not a regular file: c2pool opens only a regular file as a pool.\n", 1);
}

TEST_F(C2PoolProgram, BadArgumentsShowTheUsage) {
    const std::string usage =
        "Usage : c2pool add <pool.sqlite> <submission.json or folder>...\n"
        "        c2pool remove <pool.sqlite> <id> --reason TEXT\n"
        "        c2pool site <pool.sqlite> <folder>\n"
        "        c2pool check <submission.json or folder>...\n";
    ExpectRun({}, "", usage, 1);
    ExpectRun({"add", "pool.sqlite"}, "", usage, 1);
    ExpectRun({"remove", "pool.sqlite", "0123456789ab"}, "", usage, 1);
    ExpectRun({"delete", "pool.sqlite"}, "", usage, 1);
    EXPECT_FALSE(fs::exists(dir_ / "pool.sqlite"));
}

}  // namespace

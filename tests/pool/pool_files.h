// What the pool's tests share: submissions written to files, the built c2pool run in a folder,
// and a look into a pool with plain SQL.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench/example_submissions.h"
#include "pool/sqlite.h"
#include "pool/store.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace pool_testing {

// Writes `submission` at `path`; its id.
inline std::string WriteSubmission(const std::filesystem::path& path,
                                   report::Submission submission) {
    const std::string text = report::SubmissionText(submission);
    testing_support::WriteFileBytes(path, {text.begin(), text.end()});
    return pool::SubmissionId(text);
}

// A submission of `product` with one pass per seed.
inline report::Submission PassesOf(const std::string& product,
                                   const std::vector<std::string>& seeds) {
    bench::ExampleDrive drive;
    drive.product = product;
    report::Submission s = bench::ExampleSubmission(drive);
    for (const std::string& seed : seeds) {
        bench::ExamplePassCounts counts;
        counts.wrong = 10'000;
        counts.detected = 9'000;
        counts.literalDetected = 9'000;
        counts.falseFlags = 30;
        s.passes.push_back(bench::ExamplePass(seed, counts));
    }
    return s;
}

inline testing_support::RunResult RunC2Pool(const std::filesystem::path& folder,
                                            const std::vector<std::string>& arguments) {
    testing_support::RunOptions options;
    options.workingDirectory = folder;
    return testing_support::RunProgram(testing_support::BuiltProgram("c2pool"), arguments, options);
}

// Submissions stored, and whether each has all of its passes (as many as its text lists).
struct PoolContents {
    std::int64_t submissions = 0;
    std::int64_t passes = 0;
    std::int64_t incomplete = 0;   // submissions with fewer or more passes than `passesEach`
    std::vector<std::string> ids;  // by arrival
};

inline PoolContents Contents(const std::filesystem::path& path, std::int64_t passesEach) {
    pool::sql::Database database(path.string(), pool::sql::OpenMode::readWrite);
    PoolContents contents;
    contents.submissions = database.Integer("SELECT count(*) FROM submission");
    contents.passes = database.Integer("SELECT count(*) FROM pass");
    pool::sql::Statement incomplete(
        database,
        "SELECT count(*) FROM submission s WHERE (SELECT count(*) FROM pass p WHERE "
        "p.submission = s.arrival) != ?");
    incomplete.Bind(1, passesEach);
    contents.incomplete = incomplete.Step() ? incomplete.Integer(0) : -1;
    incomplete.Reset();
    pool::sql::Statement ids(database, "SELECT id FROM submission ORDER BY arrival");
    while (ids.Step()) {
        contents.ids.push_back(ids.Text(0));
    }
    return contents;
}

}  // namespace pool_testing

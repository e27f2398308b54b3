// The pool's add over untrusted bytes: refused with a reason, or stored whole and read back
// the same, counted once, removed whole, and never let back in.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "pool/store.h"
#include "tests/fuzz/runtime_checks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::AbortOnRuntimeError();
    return 0;
}

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The stored submission, as the site reads it, says what the file said.
void ReadBack(pool::Store& store, const pool::Candidate& candidate) {
    const report::Submission& s = candidate.submission;
    Require(store.SubmissionText(candidate.id) == candidate.text);
    int listed = 0;
    store.ForEachSubmissionOf(
        {s.drive.vendor, s.drive.product}, [&](const pool::ListedSubmission& stored) {
            ++listed;
            Require(stored.id == candidate.id);
            Require(stored.revision == s.drive.revision);
            Require(stored.unit == s.drive.unit);
            Require(stored.passes.size() == s.passes.size());
            for (std::size_t i = 0; i < s.passes.size(); ++i) {
                const auto& pass = stored.passes[i];
                Require(pass.form == s.passes[i].form);
                Require(pass.speed == s.passes[i].speedRequested.value_or("default"));
                Require(pass.figures == s.passes[i].figures);
                Require(pass.measuredKBps == s.passes[i].measuredKBps);
            }
        });
    Require(listed == 1);
    std::set<std::pair<std::string, std::string>> distinct;
    for (const report::SubmissionPass& pass : s.passes) {
        distinct.emplace(pass.wavSha256, pass.c2Sha256);
    }
    std::size_t counted = 0;
    store.ForEachCountedPass([&](const pool::CountedPass&) { ++counted; });
    Require(counted == distinct.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto candidate = pool::CheckCandidate(
        "fuzz.json", std::string(reinterpret_cast<const char*>(data), size), error);
    if (!candidate) {
        Require(!error.empty());  // a refusal says why
        return 0;
    }
    const auto store = pool::Store::InMemory();
    const std::span<const pool::Candidate> one(&*candidate, 1);
    Require(store->Add(one).at(0).added == pool::Added::accepted);
    Require(store->Add(one).at(0).added == pool::Added::alreadyInPool);
    ReadBack(*store, *candidate);
    Require(store->Remove(candidate->id, "fuzzing").removed == pool::Removed::removed);
    std::size_t counted = 0;
    store->ForEachCountedPass([&](const pool::CountedPass&) { ++counted; });
    Require(counted == 0 && store->Models().empty() && store->SubmissionCount() == 0);
    const auto again = store->Add(one).at(0);
    Require(again.added == pool::Added::removedBefore && again.reason == "fuzzing");
    return 0;
}

// The pool: every submission people sent in, whole, in one SQLite file anyone can download and
// query. A submission is named by the first 12 hex digits of the SHA-256 of its bytes; a pass
// is the same pass when its wavSha256 and c2Sha256 are both equal, and each distinct pass is
// counted once, in the submission that brought it first. A removed submission leaves only its
// id and the reason, so that it cannot come back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pool/pooled.h"
#include "report/submission/submission.h"

namespace pool {

namespace sql {
class Database;
class Transaction;
}  // namespace sql

// The layout of the tables; a pool of another version is refused, never converted in place.
inline constexpr std::int64_t kPoolSchemaVersion = 1;
// PRAGMA application_id of a pool ("C2PL").
inline constexpr std::int64_t kPoolApplicationId = 0x4332504C;

// A failure of the pool, as a sentence naming its file.
class PoolFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A submission ready for the pool: read, checked, and named.
struct Candidate {
    std::string id;
    report::Submission submission;
    std::string text;  // the file's bytes, kept whole so that anyone can re-verify them
};

// The id of the submission whose bytes are `text`.
[[nodiscard]] std::string SubmissionId(std::string_view text);

// Whether `id` looks like one (12 lower-case hex digits).
[[nodiscard]] bool IsSubmissionId(std::string_view id);

// `text`, the bytes of the file at `path`, as the pool takes a submission: everything the
// submission reader takes, judged against the genuine reference image. Nothing, with the first
// rule broken in `error`, otherwise.
[[nodiscard]] std::optional<Candidate> CheckCandidate(const std::string& path, std::string text,
                                                      std::string& error);

enum class Added { accepted, alreadyInPool, removedBefore };

struct AddOutcome {
    Added added = Added::accepted;
    std::string reason;  // why it was removed, for removedBefore
};

enum class Removed { removed, unknown, alreadyRemoved };

struct RemoveOutcome {
    Removed removed = Removed::removed;
    std::string reason;  // the earlier removal's, for alreadyRemoved
};

class Store final : public PoolReader {
public:
    // add: created when missing; change: must exist; read: must exist, and every read sees the
    // pool as it was when opened, whatever is added meanwhile.
    enum class Access { add, change, read };

    // Opens the pool at `path`, a regular file (never through a link). A file that is not a
    // pool, a pool of another schema version or a damaged one is refused, untouched.
    // Throws PoolFailure.
    [[nodiscard]] static std::unique_ptr<Store> Open(const std::string& path, Access access);
    // A private pool in memory (tests, fuzzing).
    [[nodiscard]] static std::unique_ptr<Store> InMemory();
    ~Store() override;

    // Stores the candidates in one transaction: all of them, or (on a failure, which throws
    // PoolFailure) none. The outcomes are in the candidates' order.
    [[nodiscard]] std::vector<AddOutcome> Add(std::span<const Candidate> candidates);
    // Takes the submission out of every figure, keeping its id and `reason`. Throws PoolFailure.
    [[nodiscard]] RemoveOutcome Remove(const std::string& id, const std::string& reason);

    [[nodiscard]] std::int64_t SubmissionCount();
    // The stored bytes of a submission; nothing when it is not in the pool.
    [[nodiscard]] std::optional<std::string> SubmissionText(const std::string& id);
    [[nodiscard]] const std::string& Path() const { return path_; }

    void ForEachCountedPass(const std::function<void(const CountedPass&)>& visit) override;
    [[nodiscard]] std::vector<ModelState> Models() override;
    void ForEachSubmissionOf(const DriveModel& model,
                             const std::function<void(const ListedSubmission&)>& visit) override;
    [[nodiscard]] std::int64_t Changes() override;
    [[nodiscard]] bool CopyTo(const std::string& path, std::string& error) override;

private:
    Store(std::string path, std::unique_ptr<sql::Database> database);

    std::string path_;
    std::unique_ptr<sql::Database> database_;
    std::unique_ptr<sql::Transaction> snapshot_;  // the reading transaction of Access::read
    bool fileIsSnapshot_ = false;  // the snapshot lies wholly in the pool's file, not its log
};

}  // namespace pool

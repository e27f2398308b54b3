#include "pool/store.h"

#include <filesystem>
#include <random>
#include <span>

#include <zlib.h>

#include "pool/sqlite.h"
#include "report/output/summary.h"
#include "report/output/text.h"
#include "runtime/sha256.h"

namespace pool {
namespace {

namespace fs = std::filesystem;

// Each pass keeps every figure of its submission in columns of its own, so that the pool can
// be queried in the sqlite3 shell without reading JSON; `counted` marks the one copy of each
// distinct pass that the figures count, found through `identity`, 64 bits of its two hashes
// (an index of the hashes themselves would be a fifth of the pool). The submitted files themselves,
// most of a pool's bytes, sit apart and zlib-compressed as the sqlite3 shell reads them back:
// SELECT sqlar_uncompress(deflated, bytes) FROM submission_file.
constexpr const char* kSchema = R"(
CREATE TABLE pool(changes INTEGER NOT NULL);
INSERT INTO pool VALUES(0);
CREATE TABLE model(
    id INTEGER PRIMARY KEY,
    vendor TEXT NOT NULL,
    product TEXT NOT NULL,
    changes INTEGER NOT NULL DEFAULT 0,
    UNIQUE(vendor, product));
CREATE TABLE submission(
    arrival INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    model INTEGER NOT NULL REFERENCES model(id),
    revision TEXT NOT NULL,
    vendorSpecific TEXT,
    unit TEXT,
    transport TEXT NOT NULL,
    platform TEXT NOT NULL,
    toolVersion TEXT NOT NULL,
    month TEXT NOT NULL,
    referenceSha256 TEXT NOT NULL,
    referenceBytes INTEGER NOT NULL);
CREATE INDEX submission_of_model ON submission(model, id);
CREATE TABLE submission_file(
    arrival INTEGER PRIMARY KEY REFERENCES submission(arrival),
    bytes INTEGER NOT NULL,
    deflated BLOB NOT NULL);
CREATE TABLE pass(
    submission INTEGER NOT NULL REFERENCES submission(arrival),
    position INTEGER NOT NULL,
    form TEXT NOT NULL,
    speed TEXT NOT NULL,
    speedReportedKBps INTEGER,
    completed INTEGER NOT NULL,
    wavSha256 TEXT NOT NULL,
    c2Sha256 TEXT NOT NULL,
    identity INTEGER NOT NULL,
    sectorsCompared INTEGER NOT NULL,
    bytesCompared INTEGER NOT NULL,
    zeroFilledSectors INTEGER NOT NULL,
    offsetSamples INTEGER NOT NULL,
    bestShiftPointerBits INTEGER NOT NULL,
    bestWrong INTEGER NOT NULL,
    bestFlagged INTEGER NOT NULL,
    bestDetected INTEGER NOT NULL,
    bestMissed INTEGER NOT NULL,
    bestFalseFlags INTEGER NOT NULL,
    deliveredShiftPointerBits INTEGER NOT NULL,
    deliveredWrong INTEGER NOT NULL,
    deliveredFlagged INTEGER NOT NULL,
    deliveredDetected INTEGER NOT NULL,
    deliveredMissed INTEGER NOT NULL,
    deliveredFalseFlags INTEGER NOT NULL,
    otherByteOfWrongSample INTEGER NOT NULL,
    elsewhereInSectorWithErrors INTEGER NOT NULL,
    inSectorWithoutErrors INTEGER NOT NULL,
    wholeSectorsFlagged INTEGER NOT NULL,
    measuredKBps REAL,
    counted INTEGER NOT NULL,
    PRIMARY KEY(submission, position)) WITHOUT ROWID;
CREATE INDEX pass_identity ON pass(identity);
CREATE TABLE removed(
    id TEXT PRIMARY KEY,
    reason TEXT NOT NULL,
    month TEXT NOT NULL) WITHOUT ROWID;
)";

// The figures' columns, in the order FiguresAt reads and BindFigures binds them.
constexpr const char* kFigureColumns =
    "sectorsCompared, bytesCompared, zeroFilledSectors, offsetSamples, bestShiftPointerBits, "
    "bestWrong, bestFlagged, bestDetected, bestMissed, bestFalseFlags, deliveredShiftPointerBits, "
    "deliveredWrong, deliveredFlagged, deliveredDetected, deliveredMissed, deliveredFalseFlags, "
    "otherByteOfWrongSample, elsewhereInSectorWithErrors, inSectorWithoutErrors, "
    "wholeSectorsFlagged";
constexpr int kFigureCount = 20;

std::int64_t Signed(std::uint64_t count) {
    return static_cast<std::int64_t>(count);  // counts are below 2^53, as the reader checks
}

int BindCounts(sql::Statement& s, int at, const report::SubmissionCounts& c) {
    s.Bind(at, std::int64_t{c.shiftPointerBits})
        .Bind(at + 1, Signed(c.wrong))
        .Bind(at + 2, Signed(c.flagged))
        .Bind(at + 3, Signed(c.detected))
        .Bind(at + 4, Signed(c.missed))
        .Bind(at + 5, Signed(c.falseFlags));
    return at + 6;
}

void BindFigures(sql::Statement& s, int at, const report::SubmissionFigures& f) {
    s.Bind(at, f.sectorsCompared)
        .Bind(at + 1, Signed(f.bytesCompared))
        .Bind(at + 2, f.zeroFilledSectors)
        .Bind(at + 3, std::int64_t{f.offsetSamples});
    at = BindCounts(s, BindCounts(s, at + 4, f.best), f.asDelivered);
    const report::SubmissionGranularity& g = f.granularity;
    s.Bind(at, Signed(g.otherByteOfWrongSample))
        .Bind(at + 1, Signed(g.elsewhereInSectorWithErrors))
        .Bind(at + 2, Signed(g.inSectorWithoutErrors))
        .Bind(at + 3, Signed(g.wholeSectorsFlagged));
}

report::SubmissionCounts CountsAt(const sql::Statement& s, int at) {
    return {static_cast<std::int32_t>(s.Integer(at)),
            s.Count(at + 1),
            s.Count(at + 2),
            s.Count(at + 3),
            s.Count(at + 4),
            s.Count(at + 5)};
}

report::SubmissionFigures FiguresAt(const sql::Statement& s, int at) {
    report::SubmissionFigures f;
    f.sectorsCompared = s.Integer(at);
    f.bytesCompared = s.Count(at + 1);
    f.zeroFilledSectors = s.Integer(at + 2);
    f.offsetSamples = static_cast<std::int32_t>(s.Integer(at + 3));
    f.best = CountsAt(s, at + 4);
    f.asDelivered = CountsAt(s, at + 10);
    f.granularity = {s.Count(at + 16), s.Count(at + 17), s.Count(at + 18), s.Count(at + 19)};
    return f;
}

// 64 bits of a pass's two hashes (the first 16 hex digits of each, exclusive-or'd): equal for
// equal passes, and rarely for others, which the hashes themselves then tell apart.
std::int64_t PassIdentity(std::string_view wavSha256, std::string_view c2Sha256) {
    const auto bits = [](std::string_view hex) {
        std::uint64_t value = 0;
        for (const char c : hex.substr(0, 16)) {
            value =
                value << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return value;
    };
    return static_cast<std::int64_t>(bits(wavSha256) ^ bits(c2Sha256));
}

// The file as zlib compresses it, or as it is when that is no smaller (as sqlar stores files).
std::string Deflated(std::string_view text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    const bool done = compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                                reinterpret_cast<const Bytef*>(text.data()),
                                static_cast<uLong>(text.size()), Z_DEFAULT_COMPRESSION) == Z_OK;
    if (!done || size >= text.size()) {
        return std::string(text);
    }
    packed.resize(size);
    return packed;
}

// The stored file back; none when it does not inflate to its recorded size.
std::optional<std::string> Inflated(const std::string& stored, std::uint64_t bytes) {
    if (stored.size() == bytes) {
        return stored;
    }
    std::string text(bytes, '\0');
    uLongf size = static_cast<uLongf>(bytes);
    if (uncompress(reinterpret_cast<Bytef*>(text.data()), &size,
                   reinterpret_cast<const Bytef*>(stored.data()),
                   static_cast<uLong>(stored.size())) != Z_OK ||
        size != bytes) {
        return std::nullopt;
    }
    return text;
}

std::string SpeedName(const std::optional<std::string>& requested) {
    return requested.value_or("default");
}

// How long a statement waits for another connection's transaction before it gives up.
constexpr int kBusyWaitMilliseconds = 60'000;

// Pages are 4 KiB; 64 MiB of them keep a pool of 10^5 submissions' indexes in memory while
// adding, well below what a machine has. The log is copied into the pool every 64 MiB rather
// than every 4: each copy waits for the disk.
void Tune(sql::Database& database) {
    database.WaitWhenBusy(kBusyWaitMilliseconds);
    database.Execute(
        "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -65536; "
        "PRAGMA wal_autocheckpoint = 16384;");
}

void CreateSchema(sql::Database& database) {
    sql::Transaction transaction(database, sql::Transaction::Kind::write);
    database.Execute(kSchema);
    database.Execute(("PRAGMA application_id = " + std::to_string(kPoolApplicationId) +
                      "; PRAGMA user_version = " + std::to_string(kPoolSchemaVersion))
                         .c_str());
    transaction.Commit();
}

std::string Sentence(const std::string& path, const sql::Error& failure) {
    const std::string why = report::ConsoleText(failure.what());
    if (failure.NotADatabase()) {
        return report::Quoted(path) + " is not a pool of c2pool (" + why +
               "): c2pool leaves it as it is.";
    }
    if (failure.Damaged()) {
        return report::Quoted(path) + " is damaged (" + why + "): c2pool leaves it as it is.";
    }
    if (failure.DiskFailed()) {
        return "Cannot write the pool " + report::Quoted(path) + " (" + why +
               "): it is as it was before the change that failed.";
    }
    return "Cannot use the pool " + report::Quoted(path) + " (" + why + ").";
}

// Runs `work`, its SQLite failures turned into sentences naming the pool.
template <class Work>
auto Guarded(const std::string& path, Work&& work) {
    try {
        return work();
    } catch (const sql::Error& failure) {
        throw PoolFailure(Sentence(path, failure));
    }
}

// A new pool is made whole under a name of its own and linked in place, so that a pool that
// another c2pool creates at the same moment is never seen half made.
void CreatePool(const std::string& path) {
    const std::string draft = path + ".new-" + std::to_string(std::random_device{}());
    std::error_code ignored;
    fs::remove(draft, ignored);
    try {
        {
            sql::Database database(draft, sql::OpenMode::create);
            Tune(database);
            CreateSchema(database);
            database.Execute("PRAGMA journal_mode = WAL");
        }
        std::error_code linked;
        fs::create_hard_link(draft, path, linked);
        if (linked && linked != std::errc::file_exists && !fs::exists(path, ignored)) {
            // A file system without hard links: the draft is renamed instead.
            fs::rename(draft, path, linked);
        }
        fs::remove(draft, ignored);
        if (linked && linked != std::errc::file_exists) {
            throw PoolFailure("Cannot create the pool " + report::Quoted(path) + " (" +
                              report::ConsoleText(linked.message()) + ").");
        }
    } catch (const sql::Error& failure) {
        fs::remove(draft, ignored);
        fs::remove(draft + "-wal", ignored);
        fs::remove(draft + "-shm", ignored);
        throw PoolFailure("Cannot create the pool " + report::Quoted(path) + " (" +
                          report::ConsoleText(failure.what()) + ").");
    }
}

// The file at `path`, if any, is a regular one; a link or anything else is refused.
bool CheckFile(const std::string& path, Store::Access access) {
    std::error_code failure;
    const fs::file_status status = fs::symlink_status(path, failure);
    if (status.type() == fs::file_type::not_found) {
        if (access != Store::Access::add) {
            throw PoolFailure("There is no pool at " + report::Quoted(path) + ".");
        }
        return false;
    }
    if (failure) {
        throw PoolFailure("Cannot open the pool " + report::Quoted(path) + " (" +
                          report::ConsoleText(failure.message()) + ").");
    }
    if (status.type() == fs::file_type::symlink) {
        throw PoolFailure(report::Quoted(path) +
                          " is a symbolic link: c2pool opens only a regular file as a pool.");
    }
    if (status.type() != fs::file_type::regular) {
        throw PoolFailure(report::Quoted(path) +
                          " is not a regular file: c2pool opens only a regular file as a pool.");
    }
    return true;
}

// Reads the marks of a pool before anything is written, so that a stranger's file stays as
// it is.
void CheckPool(sql::Database& database, const std::string& path) {
    if (database.Integer("PRAGMA application_id") != kPoolApplicationId) {
        throw PoolFailure(report::Quoted(path) +
                          " is not a pool of c2pool: c2pool leaves it as it is.");
    }
    const std::int64_t version = database.Integer("PRAGMA user_version");
    if (version != kPoolSchemaVersion) {
        throw PoolFailure(report::Quoted(path) + " is a pool of another schema version (" +
                          std::to_string(version) + "; this c2pool reads version " +
                          std::to_string(kPoolSchemaVersion) + "): c2pool leaves it as it is.");
    }
}

}  // namespace

std::string SubmissionId(std::string_view text) {
    return runtime::Sha256Hex(
               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
        .substr(0, 12);
}

bool IsSubmissionId(std::string_view id) {
    return id.size() == 12 && id.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<Candidate> CheckCandidate(const std::string& path, std::string text,
                                        std::string& error) {
    auto submission = report::ParseSubmission(path, text, error);
    if (!submission) {
        return std::nullopt;
    }
    // The figures of passes judged against another image say nothing comparable.
    if (!submission->reference.genuine ||
        submission->reference.sha256 != report::kGenuineReferenceSha256) {
        error = report::Quoted(path) +
                " was judged against a reference that is not the genuine image: the pool takes "
                "only passes judged against the genuine one.";
        return std::nullopt;
    }
    Candidate candidate{SubmissionId(text), std::move(*submission), std::move(text)};
    return candidate;
}

// Copies the write-ahead log into the pool's file and empties it, unless another connection
// is busy with the pool: then nothing is waited for.
bool EmptyTheLog(sql::Database& database) {
    database.WaitWhenBusy(0);
    bool emptied = false;
    try {
        emptied = database.Integer("PRAGMA wal_checkpoint(TRUNCATE)") == 0;  // not busy
    } catch (const sql::Error&) {
    }
    database.WaitWhenBusy(kBusyWaitMilliseconds);
    return emptied;
}

bool LogIsEmpty(const std::string& path) {
    std::error_code failure;
    const auto bytes = fs::file_size(path + "-wal", failure);
    return failure ? !fs::exists(path + "-wal", failure) : bytes == 0;
}

Store::Store(std::string path, std::unique_ptr<sql::Database> database)
    : path_(std::move(path)), database_(std::move(database)) {}

Store::~Store() = default;

std::unique_ptr<Store> Store::Open(const std::string& path, Access access) {
    if (!CheckFile(path, access)) {
        CreatePool(path);
    }
    try {
        auto database = std::make_unique<sql::Database>(path, sql::OpenMode::readWrite);
        Tune(*database);
        CheckPool(*database, path);
        std::unique_ptr<Store> store(new Store(path, std::move(database)));
        if (access == Access::read) {
            const bool logEmptied = EmptyTheLog(*store->database_);
            store->snapshot_ =
                std::make_unique<sql::Transaction>(*store->database_, sql::Transaction::Kind::read);
            (void)store->Changes();  // the snapshot begins with the first read
            store->fileIsSnapshot_ = logEmptied && LogIsEmpty(path);
        }
        return store;
    } catch (const sql::Error& failure) {
        throw PoolFailure(Sentence(path, failure));
    }
}

std::unique_ptr<Store> Store::InMemory() {
    auto database = std::make_unique<sql::Database>("", sql::OpenMode::memory);
    CreateSchema(*database);
    return std::unique_ptr<Store>(new Store(":memory:", std::move(database)));
}

namespace {

// Adds one submission inside the caller's transaction.
class Adder {
public:
    explicit Adder(sql::Database& database)
        : database_(database),
          inPool_(database, "SELECT 1 FROM submission WHERE id = ?"),
          removed_(database, "SELECT reason FROM removed WHERE id = ?"),
          newModel_(database,
                    "INSERT INTO model(vendor, product) VALUES(?, ?) ON CONFLICT DO NOTHING"),
          model_(database,
                 "UPDATE model SET changes = changes + 1 "
                 "WHERE vendor = ? AND product = ? RETURNING id"),
          submission_(database,
                      "INSERT INTO submission(id, model, revision, vendorSpecific, unit, "
                      "transport, platform, toolVersion, month, referenceSha256, referenceBytes) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          file_(database, "INSERT INTO submission_file(arrival, bytes, deflated) VALUES(?, ?, ?)"),
          counted_(database,
                   "SELECT 1 FROM pass WHERE identity = ? AND wavSha256 = ? AND c2Sha256 = ? AND "
                   "counted = 1"),
          pass_(database,
                std::string("INSERT INTO pass(submission, position, form, speed, "
                            "speedReportedKBps, completed, wavSha256, c2Sha256, identity, ") +
                    kFigureColumns +
                    ", measuredKBps, counted) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, "
                    "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          changed_(database, "UPDATE pool SET changes = changes + 1") {}

    AddOutcome Add(const Candidate& candidate) {
        if (inPool_.Bind(1, candidate.id).Step()) {
            inPool_.Reset();
            return {Added::alreadyInPool, {}};
        }
        if (removed_.Bind(1, candidate.id).Step()) {
            AddOutcome outcome{Added::removedBefore, removed_.Text(0)};
            removed_.Reset();
            return outcome;
        }
        const report::Submission& s = candidate.submission;
        const std::int64_t arrival = StoreSubmission(candidate, ModelOf(s.drive));
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            StorePass(arrival, static_cast<std::int64_t>(i), s.passes[i]);
        }
        changed_.Run();
        return {Added::accepted, {}};
    }

private:
    std::int64_t ModelOf(const report::SubmissionDrive& drive) {
        newModel_.Bind(1, drive.vendor).Bind(2, drive.product).Run();
        if (!model_.Bind(1, drive.vendor).Bind(2, drive.product).Step()) {
            throw sql::Error("the model just stored is missing", 0);
        }
        const std::int64_t id = model_.Integer(0);
        model_.Reset();
        return id;
    }

    std::int64_t StoreSubmission(const Candidate& candidate, std::int64_t model) {
        const report::Submission& s = candidate.submission;
        submission_.Bind(1, candidate.id)
            .Bind(2, model)
            .Bind(3, s.drive.revision)
            .BindOptional(4, s.drive.vendorSpecific)
            .BindOptional(5, s.drive.unit)
            .Bind(6, s.drive.transport)
            .Bind(7, s.platform)
            .Bind(8, s.toolVersion)
            .Bind(9, s.month)
            .Bind(10, s.reference.sha256)
            .Bind(11, Signed(s.reference.bytes))
            .Run();
        const std::int64_t arrival = database_.LastInsertedRow();
        file_.Bind(1, arrival)
            .Bind(2, static_cast<std::int64_t>(candidate.text.size()))
            .BindBlob(3, Deflated(candidate.text))
            .Run();
        return arrival;
    }

    void StorePass(std::int64_t arrival, std::int64_t position, const report::SubmissionPass& p) {
        // The first copy of a pass counts; a later one, here or in another submission, not.
        const std::int64_t identity = PassIdentity(p.wavSha256, p.c2Sha256);
        const bool counted =
            !counted_.Bind(1, identity).Bind(2, p.wavSha256).Bind(3, p.c2Sha256).Step();
        counted_.Reset();
        pass_.Bind(1, arrival)
            .Bind(2, position)
            .Bind(3, p.form)
            .Bind(4, SpeedName(p.speedRequested));
        if (p.speedReportedKBps) {
            pass_.Bind(5, *p.speedReportedKBps);
        } else {
            pass_.BindNull(5);
        }
        pass_.Bind(6, std::int64_t{p.completed})
            .Bind(7, p.wavSha256)
            .Bind(8, p.c2Sha256)
            .Bind(9, identity);
        BindFigures(pass_, 10, p.figures);
        pass_.BindOptional(10 + kFigureCount, p.measuredKBps)
            .Bind(11 + kFigureCount, std::int64_t{counted})
            .Run();
    }

    sql::Database& database_;
    sql::Statement inPool_, removed_, newModel_, model_, submission_, file_, counted_, pass_,
        changed_;
};

}  // namespace

std::vector<AddOutcome> Store::Add(std::span<const Candidate> candidates) {
    return Guarded(path_, [&]() -> std::vector<AddOutcome> {
        std::vector<AddOutcome> outcomes;
        sql::Transaction transaction(*database_, sql::Transaction::Kind::write);
        Adder adder(*database_);
        for (const Candidate& candidate : candidates) {
            outcomes.push_back(adder.Add(candidate));
        }
        transaction.Commit();
        return outcomes;
    });
}

RemoveOutcome Store::Remove(const std::string& id, const std::string& reason) {
    return Guarded(path_, [&]() -> RemoveOutcome {
        sql::Transaction transaction(*database_, sql::Transaction::Kind::write);
        sql::Statement find(*database_, "SELECT arrival, model FROM submission WHERE id = ?");
        if (!find.Bind(1, id).Step()) {
            sql::Statement removed(*database_, "SELECT reason FROM removed WHERE id = ?");
            if (removed.Bind(1, id).Step()) {
                return {Removed::alreadyRemoved, removed.Text(0)};
            }
            return {Removed::unknown, {}};
        }
        const std::int64_t arrival = find.Integer(0);
        const std::int64_t model = find.Integer(1);
        find.Reset();
        // Each pass this submission counted passes to the next copy of it, if any.
        std::vector<std::pair<std::string, std::string>> counted;
        sql::Statement its(*database_,
                           "SELECT wavSha256, c2Sha256 FROM pass WHERE submission = ? AND counted");
        its.Bind(1, arrival);
        while (its.Step()) {
            counted.emplace_back(its.Text(0), its.Text(1));
        }
        sql::Statement next(*database_,
                            "SELECT p.submission, p.position, s.model FROM pass p JOIN submission "
                            "s ON s.arrival = p.submission WHERE p.identity = ? AND p.wavSha256 = "
                            "? AND p.c2Sha256 = ? AND p.submission != ? "
                            "ORDER BY p.submission, p.position LIMIT 1");
        sql::Statement count(*database_,
                             "UPDATE pass SET counted = 1 WHERE submission = ? AND position = ?");
        sql::Statement changedModel(*database_,
                                    "UPDATE model SET changes = changes + 1 WHERE id = ?");
        for (const auto& [wav, c2] : counted) {
            if (next.Bind(1, PassIdentity(wav, c2))
                    .Bind(2, wav)
                    .Bind(3, c2)
                    .Bind(4, arrival)
                    .Step()) {
                const std::int64_t submission = next.Integer(0), position = next.Integer(1),
                                   itsModel = next.Integer(2);
                next.Reset();
                count.Bind(1, submission).Bind(2, position).Run();
                changedModel.Bind(1, itsModel).Run();
            }
        }
        sql::Statement dropPasses(*database_, "DELETE FROM pass WHERE submission = ?");
        dropPasses.Bind(1, arrival).Run();
        sql::Statement dropFile(*database_, "DELETE FROM submission_file WHERE arrival = ?");
        dropFile.Bind(1, arrival).Run();
        sql::Statement dropSubmission(*database_, "DELETE FROM submission WHERE arrival = ?");
        dropSubmission.Bind(1, arrival).Run();
        sql::Statement keep(*database_,
                            "INSERT INTO removed(id, reason, month) "
                            "VALUES(?, ?, strftime('%Y-%m', 'now'))");
        keep.Bind(1, id).Bind(2, reason).Run();
        changedModel.Bind(1, model).Run();
        database_->Execute("UPDATE pool SET changes = changes + 1");
        transaction.Commit();
        return {Removed::removed, {}};
    });
}

std::int64_t Store::SubmissionCount() {
    return Guarded(path_, [&]() -> std::int64_t {
        return database_->Integer("SELECT count(*) FROM submission");
    });
}

std::optional<std::string> Store::SubmissionText(const std::string& id) {
    return Guarded(path_, [&]() -> std::optional<std::string> {
        sql::Statement find(*database_,
                            "SELECT f.bytes, f.deflated FROM submission s JOIN submission_file f "
                            "ON f.arrival = s.arrival WHERE s.id = ?");
        if (!find.Bind(1, id).Step()) {
            return std::nullopt;
        }
        std::optional<std::string> text = Inflated(find.Text(1), find.Count(0));
        find.Reset();
        return text;
    });
}

void Store::ForEachCountedPass(const std::function<void(const CountedPass&)>& visit) {
    Guarded(path_, [&] {
        sql::Statement passes(
            *database_,
            std::string("SELECT p.submission, m.vendor, m.product, s.revision, s.unit, p.form, "
                        "p.speed, p.measuredKBps, ") +
                kFigureColumns +
                " FROM pass p JOIN submission s ON s.arrival = p.submission JOIN model m ON m.id "
                "= s.model WHERE p.counted ORDER BY p.submission, p.position");
        CountedPass pass;
        while (passes.Step()) {
            pass.submission = passes.Integer(0);
            pass.model = {passes.Text(1), passes.Text(2)};
            pass.revision = passes.Text(3);
            pass.unit = passes.OptionalText(4);
            pass.form = passes.Text(5);
            pass.speed = passes.Text(6);
            pass.measuredKBps = passes.OptionalReal(7);
            pass.figures = FiguresAt(passes, 8);
            visit(pass);
        }
    });
}

std::vector<ModelState> Store::Models() {
    return Guarded(path_, [&]() -> std::vector<ModelState> {
        sql::Statement models(*database_,
                              "SELECT vendor, product, changes FROM model m WHERE EXISTS "
                              "(SELECT 1 FROM submission s WHERE s.model = m.id) "
                              "ORDER BY vendor, product");
        std::vector<ModelState> states;
        while (models.Step()) {
            states.push_back({{models.Text(0), models.Text(1)}, models.Integer(2)});
        }
        return states;
    });
}

void Store::ForEachSubmissionOf(const DriveModel& model,
                                const std::function<void(const ListedSubmission&)>& visit) {
    Guarded(path_, [&] {
        sql::Statement submissions(
            *database_,
            "SELECT s.id, s.arrival, s.revision, s.unit, s.transport, s.platform, s.toolVersion, "
            "s.month FROM submission s JOIN model m ON m.id = s.model WHERE m.vendor = ? AND "
            "m.product = ? ORDER BY s.id");
        sql::Statement passes(
            *database_,
            std::string("SELECT p.form, p.speed, p.measuredKBps, CASE WHEN p.counted THEN NULL "
                        "ELSE (SELECT s.id FROM pass q JOIN submission s ON s.arrival = "
                        "q.submission WHERE q.identity = p.identity AND q.wavSha256 = "
                        "p.wavSha256 AND q.c2Sha256 = p.c2Sha256 AND q.counted) END, ") +
                kFigureColumns + " FROM pass p WHERE p.submission = ? ORDER BY p.position");
        submissions.Bind(1, model.vendor).Bind(2, model.product);
        ListedSubmission listed;
        while (submissions.Step()) {
            listed.id = submissions.Text(0);
            listed.arrival = submissions.Integer(1);
            listed.revision = submissions.Text(2);
            listed.unit = submissions.OptionalText(3);
            listed.transport = submissions.Text(4);
            listed.platform = submissions.Text(5);
            listed.toolVersion = submissions.Text(6);
            listed.month = submissions.Text(7);
            listed.passes.clear();
            passes.Bind(1, listed.arrival);
            while (passes.Step()) {
                listed.passes.push_back({passes.Text(0), passes.Text(1), FiguresAt(passes, 4),
                                         passes.OptionalReal(2), passes.OptionalText(3)});
            }
            visit(listed);
        }
    });
}

std::int64_t Store::Changes() {
    return Guarded(
        path_, [&]() -> std::int64_t { return database_->Integer("SELECT changes FROM pool"); });
}

bool Store::CopyTo(const std::string& path, std::string& error) {
    std::error_code failure;
    if (fs::symlink_status(path, failure).type() != fs::file_type::not_found) {
        error = "Cannot copy the pool to " + report::Quoted(path) + ": something is there already.";
        return false;
    }
    try {
        if (fileIsSnapshot_) {
            // A reader that began with an empty log reads the file alone, and no checkpoint
            // writes into the file while it reads: the file is the snapshot, and a plain copy
            // of it takes a tenth of the time of SQLite's page-by-page one.
            if (!fs::copy_file(path_, path, failure)) {
                error = "Cannot write " + report::Quoted(path) + " (" +
                        report::ConsoleText(failure.message()) + ").";
                fs::remove(path, failure);
                return false;
            }
            sql::Database(path, sql::OpenMode::readWrite).Execute("PRAGMA journal_mode = DELETE");
        } else {
            database_->CopyTo(path);
        }
        return true;
    } catch (const sql::Error& failure) {
        std::error_code ignored;
        fs::remove(path, ignored);
        fs::remove(path + "-journal", ignored);
        error = "Cannot write " + report::Quoted(path) + " (" +
                report::ConsoleText(failure.what()) + ").";
        return false;
    }
}

}  // namespace pool

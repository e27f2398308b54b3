// The README's "When things go wrong" against the built programs: every failure it lists is
// made to happen here, and the program must print the documented message and end with the
// documented exit code. A row without a case here, or a case without a row, fails too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/sha256.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "wav/wav_header.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;

struct DocumentedFailure {
    std::string program;  // the section's heading
    std::string message;  // "…" stands for any text
    int exitCode = -1;
};

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::stringstream stream(row.substr(1));
    std::string cell;
    while (std::getline(stream, cell, '|')) {
        cells.push_back(Trim(cell));
    }
    return cells;
}

// Table rows of the section, below a "### <program>" heading: | `message` | when | left | code |
std::vector<DocumentedFailure> ReadDocumentedFailures() {
    std::ifstream readme(MARROWBY_SOURCE_DIR "/README.md");
    std::vector<DocumentedFailure> failures;
    std::string line;
    bool inSection = false;
    std::string program;
    while (std::getline(readme, line)) {
        if (line.starts_with("## ")) {
            inSection = line == "## When things go wrong";
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (line.starts_with("### ")) {
            program = Trim(line.substr(4));
            continue;
        }
        if (!line.starts_with("| `")) {
            continue;
        }
#ifndef MARROWBY_HAS_POOL
        if (program == "c2pool") {
            continue;  // not built without SQLite
        }
#endif
        const std::vector<std::string> cells = Cells(line);
        if (cells.size() < 4 || cells[0].size() < 2) {
            continue;
        }
        failures.push_back(
            {program, cells[0].substr(1, cells[0].size() - 2), std::stoi(cells[cells.size() - 1])});
    }
    return failures;
}

// The message as a pattern: "…" matches any text on its line.
std::regex MessagePattern(const std::string& message) {
    std::string pattern;
    const std::string ellipsis = "…";
    for (std::size_t i = 0; i < message.size();) {
        if (message.compare(i, ellipsis.size(), ellipsis) == 0) {
            pattern += "[^\n]*";
            i += ellipsis.size();
            continue;
        }
        const char c = message[i++];
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return std::regex(pattern);
}

// --- Making each failure happen ---

std::string Drive(const std::string& extra, std::int64_t sectors = 200) {
    return "[drive]\nvendor = \"SIM\"\nproduct = \"TEST DRIVE\"\ndisc = pattern " +
           std::to_string(sectors) + " 11\n" + extra;
}

// `program` "QuellorTestClock" is Quellor on a clock that waits take no real time on.
RunResult Quellor(const TempDir& dir, const std::string& description,
                  const std::vector<std::string>& arguments = {"0"},
                  std::map<std::string, std::string> environment = {},
                  const std::string& program = "Quellor") {
    std::ofstream(dir / "drives.drive") << description;
    RunOptions options;
    options.workingDirectory = dir.Path();
    options.environment = std::move(environment);
    options.environment["LD_LIBRARY_PATH"] = std::string(MARROWBY_STANDIN_DIR) + "/both";
    options.environment["SIMDRIVE_DESCRIPTION"] = (dir / "drives.drive").string();
    options.environment["SIMDRIVE_ASPI_COMPLETION"] = "early";
    return RunProgram(BuiltProgram(program), arguments, options);
}

RunResult Tamblin(const TempDir& dir) {
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(BuiltProgram("Tamblin"), {}, options);
}

// A processor fault from outside: the signal a bad memory access raises, sent while it runs.
RunResult FaultedTamblin(const TempDir& dir) {
    std::filesystem::create_symlink("/dev/null", dir / "Reference.wav");
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(
        "/bin/sh",
        {"-c", "\"$0\" & sleep 0.5; kill -SEGV $!; wait $!", BuiltProgram("Tamblin").string()},
        options);
}

std::vector<unsigned char> Wav(const std::vector<unsigned char>& audio) {
    const auto header = wav::MakeWavHeader(static_cast<std::uint32_t>(audio.size()));
    std::vector<unsigned char> bytes(header.size() + audio.size());
    std::transform(header.begin(), header.end(), bytes.begin(),
                   [](std::byte b) { return static_cast<unsigned char>(b); });
    std::copy(audio.begin(), audio.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(header.size()));
    return bytes;
}

std::vector<unsigned char> Noise(std::size_t sectors, unsigned seed) {
    std::vector<unsigned char> audio(sectors * 2352);
    std::uint32_t state = seed;
    for (unsigned char& byte : audio) {
        state = state * 1'664'525u + 1'013'904'223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return audio;
}

// A reference, an extraction that matches it and its pointers, unless told otherwise.
struct ReportFiles {
    std::vector<unsigned char> reference = Wav(Noise(100, 1));
    std::vector<unsigned char> drive = Wav(Noise(100, 1));
    std::vector<unsigned char> c2 = std::vector<unsigned char>(100 * 294);
    std::string driveName = "Drive.wav";
    std::string c2Name = "Drive.c2";
    bool writeC2 = true;
};

RunResult C2Report(const TempDir& dir, const ReportFiles& files, const std::string& redirect = "") {
    testing_support::WriteFileBytes(dir / "Reference.wav", files.reference);
    testing_support::WriteFileBytes(dir / files.driveName, files.drive);
    if (files.writeC2) {
        testing_support::WriteFileBytes(dir / files.c2Name, files.c2);
    }
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(
        "/bin/sh",
        {"-c", "exec \"$0\" \"$1\" \"$2\" \"$3\"" + redirect, BuiltProgram("c2report").string(),
         "Reference.wav", files.driveName, files.c2Name},
        options);
}

// A study file beside a reference, judged by c2report --study.
RunResult StudyReport(const TempDir& dir, const std::string& study) {
    testing_support::WriteFileBytes(dir / "Reference.wav", Wav(Noise(100, 1)));
    std::ofstream(dir / "Drive.study.json") << study;
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(BuiltProgram("c2report"), {"--study", "Reference.wav", "Drive.study.json"},
                      options);
}

// A whole study of one pass, with the file's first `keep` characters kept (all by default).
std::string Study(const std::string& version = "1",
                  std::string::size_type keep = std::string::npos) {
    const std::string text =
        R"({"format": "Quellor study", "formatVersion": )" + version +
        R"(, "drive": {"vendor": "SIM", "product": "TEST DRIVE", "revision": "1.00"},
        "formsFound": ["d8"], "passes": [{"form": "d8", "speedRequested": "8x",
        "speedSet": true, "speedReportedKBps": 1412, "wav": "Drive.d8.8x.wav",
        "c2": "Drive.d8.8x.c2", "sectors": 100, "failedSectors": 0, "seconds": 0.25,
        "completed": true, "error": null}]})";
    return text.substr(0, keep);
}

// `c2report --compare` of files in the folder.
RunResult CompareReport(const TempDir& dir, std::vector<std::string> verdicts) {
    verdicts.insert(verdicts.begin(), "--compare");
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(BuiltProgram("c2report"), verdicts, options);
}

#ifdef MARROWBY_HAS_POOL
RunResult C2Pool(const TempDir& dir, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.workingDirectory = dir.Path();
    return RunProgram(BuiltProgram("c2pool"), arguments, options);
}

// A submission file that names its format and nothing else.
void BareSubmission(const TempDir& dir) {
    std::ofstream(dir / "s.json") << R"({"format": "Marrowby submission", "formatVersion": 1})";
}

// An empty pool: an add whose only file is refused still makes the pool.
void EmptyPool(const TempDir& dir) {
    BareSubmission(dir);
    C2Pool(dir, {"add", "pool.sqlite", "s.json"});
}
#endif

using Case = std::function<RunResult(const TempDir&)>;

const std::map<std::string, Case>& Cases() {
    static const std::map<std::string, Case> cases{
        {"Usage : Quellor <Drive number>",
         [](const TempDir& dir) { return Quellor(dir, Drive(""), {}); }},
        {"Drive number does not exists!",
         [](const TempDir& dir) { return Quellor(dir, Drive(""), {"1"}); }},
        {"No CD found in specified drive!",
         [](const TempDir& dir) {
             return Quellor(dir, "[drive]\nvendor = \"SIM\"\nproduct = \"EMPTY\"\n");
         }},
        {"No matching C2 mode found!",
         [](const TempDir& dir) { return Quellor(dir, Drive("read_cd = 0x10\n")); }},
        {"Cannot create file!",
         [](const TempDir& dir) {
             std::filesystem::create_directory(dir / "SIMTESTDRIVE.c2");
             return Quellor(dir, Drive(""));
         }},
        {"Cannot write file …: …! The files end where writing stopped.",
         [](const TempDir& dir) {
             std::filesystem::create_symlink("/dev/full", dir / "SIMTESTDRIVE.c2");
             return Quellor(dir, Drive(""));
         }},
        {"Reads failed for … sectors, the first at sector …; they are stored as zeros.",
         [](const TempDir& dir) { return Quellor(dir, Drive("unreadable = 30\n")); }},
        {"The disc's table of contents lists no track!",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("toc_reply = 00 0a 01 01 00 10 aa 00 00 00 00 64\n"));
         }},
        {"The disc's table of contents puts its first track after its last!",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("toc_reply = 00 12 02 01 00 10 02 00 00 00 00 00 00 10 "
                                       "aa 00 00 00 00 64\n"));
         }},
        {"The disc's table of contents has no usable lead-out!",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("toc_reply = 00 1a 01 02 00 10 01 00 00 00 00 00 00 10 "
                                       "02 00 00 00 00 32 00 10 aa 00 00 00 00 00\n"
                                       "capacity_last_lba = 0xffffffff\n"));
         }},
        {"The disc's table of contents leaves no sector to read!",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("toc_reply = 00 12 01 01 00 10 01 00 00 00 00 00 00 10 "
                                       "aa 00 00 00 00 00\n"));
         }},
        {"The disc could not be read where the C2 modes are tested!",
         [](const TempDir& dir) { return Quellor(dir, Drive("unreadable = 0 150\n")); }},
        {"Unhandled exception",
         [](const TempDir& dir) {
             return Quellor(dir, Drive(""), {"0"}, {{"SIMDRIVE_ASPI_FAULT_AT", "100"}});
         }},
        {"Quellor --study <Drive number> [--speeds LIST]",
         [](const TempDir& dir) {
             return Quellor(dir, Drive(""), {"--study", "0", "--speeds", "fast"});
         }},
        {"… at sector …. The pass ends there; its files hold the sectors before it.",
         [](const TempDir& dir) {
             // Detection reads twice; the first pass's fourth chunk finds the tray open.
             return Quellor(dir, Drive("read_cd = 0x10 0x14\nnot_ready_reads = 6 2\n", 120),
                            {"--study", "0", "--speeds", "8x,max"});
         }},
        {"The drive did not become ready in 30 s.",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("never_ready = yes\n"), {"0"}, {}, "QuellorTestClock");
         }},
        {"The drive keeps reporting a change (unit attention).",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("unit_attention = 29 8\n"), {"0"}, {}, "QuellorTestClock");
         }},
        {"… slow reads, the slowest … s at sector …",
         [](const TempDir& dir) {
             return Quellor(dir, Drive("slow_at = 100:4100\n"), {"0"}, {}, "QuellorTestClock");
         }},
        {"Cannot write file ….study.json!",
         [](const TempDir& dir) {
             std::filesystem::create_directory(dir / "SIMTESTDRIVE.study.json");
             return Quellor(dir, Drive(""), {"--study", "0"});
         }},
        {"Tamblin:Unhandled exception", FaultedTamblin},
        {"Usage : c2report <Reference.wav> <drive>.wav <drive>.c2",
         [](const TempDir& dir) {
             RunOptions options;
             options.workingDirectory = dir.Path();
             return RunProgram(BuiltProgram("c2report"), {}, options);
         }},
        {"Cannot open \"…\".",
         [](const TempDir& dir) {
             ReportFiles files;
             files.writeC2 = false;
             return C2Report(dir, files);
         }},
        {"\"…\" is not a 16-bit stereo 44,100 Hz PCM WAV file.",
         [](const TempDir& dir) {
             ReportFiles files;
             files.drive = std::vector<unsigned char>(100, 'x');
             return C2Report(dir, files);
         }},
        {"\"…\" holds … bytes; … sectors of audio need 294 per sector, ….",
         [](const TempDir& dir) {
             ReportFiles files;
             files.c2.pop_back();
             return C2Report(dir, files);
         }},
        {"No read offset within +/-… samples fits: the extraction does not match the reference (… "
         "of … windows agree).",
         [](const TempDir& dir) {
             ReportFiles files;
             files.drive = Wav(Noise(100, 2));
             return C2Report(dir, files);
         }},
        {"\"…\" is an input and also where c2report writes \"…\"; it will not overwrite an "
         "input. Rename the file.",
         [](const TempDir& dir) {
             ReportFiles files;
             files.c2Name = "Drive.report.csv";
             return C2Report(dir, files);
         }},
        {"Cannot write \"…\".",
         [](const TempDir& dir) {
             std::filesystem::create_directory(dir / "Drive.report.svg");
             return C2Report(dir, ReportFiles{});
         }},
        {"Cannot write the summary to standard output.",
         [](const TempDir& dir) { return C2Report(dir, ReportFiles{}, " >/dev/full"); }},
        {"\"…\" is not a Quellor study.",
         [](const TempDir& dir) {
             return StudyReport(dir, R"({"format": "c2report verdict", "formatVersion": 1})");
         }},
        {"\"…\" is not JSON: line …, column …: ….",
         [](const TempDir& dir) { return StudyReport(dir, Study("1", 120)); }},
        {"\"…\" is a Quellor study of another format version (…; this c2report reads 1).",
         [](const TempDir& dir) { return StudyReport(dir, Study("2")); }},
        {"\"…\" is not a usable Quellor study: ….",
         [](const TempDir& dir) {
             std::string study = Study();
             study.replace(study.find(R"("sectors": 100)"), 14, R"("sectors": -5)");
             return StudyReport(dir, study);
         }},
        {"\"…\" is not a usable c2report verdict: ….",
         [](const TempDir& dir) {
             std::ofstream(dir / "A.report.json")
                 << R"({"format": "c2report verdict", "formatVersion": 1})";
             return CompareReport(dir, {"A.report.json"});
         }},
        {"\"…\" repeats \"…\" (the same verdict): each drive is ranked once.",
         [](const TempDir& dir) {
             (void)C2Report(dir, ReportFiles{});
             std::filesystem::copy_file(dir / "Drive.report.json", dir / "Copy.report.json");
             return CompareReport(dir, {"Drive.report.json", "Copy.report.json"});
         }},
        {"\"…\" is …, not a file: c2report reads only regular files.",
         [](const TempDir& dir) {
             std::filesystem::create_directory(dir / "A.report.json");
             return CompareReport(dir, {"A.report.json"});
         }},
        {"\"…\" is larger than 16 MB: too large to be a file c2report reads.",
         [](const TempDir& dir) {
             std::ofstream(dir / "Drive.study.json") << std::string((16 << 20) + 1, ' ');
             return CompareReport(dir, {"Drive.study.json"});
         }},
        {"c2report would write \"…\" and \"…\", the same file, in one run; it will not write "
         "over its own output. Rename an input.",
         [](const TempDir& dir) {
             std::string study = Study();
             study.replace(study.rfind(R"(]})"), 2,
                           R"(, {"form": "d8", "speedRequested": "max", "speedSet": true,
                           "speedReportedKBps": null, "wav": "Drive.d8.8x.raw",
                           "c2": "Drive.d8.max.c2", "sectors": 100, "failedSectors": 0,
                           "seconds": 0.25, "completed": true, "error": null}]})");
             return StudyReport(dir, study);
         }},
        {"\"…\" holds no audio: only a header.",
         [](const TempDir& dir) {
             ReportFiles files;
             files.drive = Wav({});
             return C2Report(dir, files);
         }},
        {"\"…\" is short: it holds … sectors of audio, and \"…\" pointers for ….",
         [](const TempDir& dir) {
             ReportFiles files;
             files.c2.resize(101 * 294);
             return C2Report(dir, files);
         }},
        {"Not judged: … at …: …", [](const TempDir& dir) { return StudyReport(dir, Study()); }},
        {"Tamblin:Cannot create file!",
         [](const TempDir& dir) {
             std::filesystem::create_directory(dir / "Reference.wav");
             return Tamblin(dir);
         }},
        {"Cannot write file! Reference.wav is incomplete (system error …).",
         [](const TempDir& dir) {
             std::filesystem::create_symlink("/dev/full", dir / "Reference.wav");
             return Tamblin(dir);
         }},
#ifdef MARROWBY_HAS_POOL
        {"Usage : c2pool add <pool.sqlite> <submission.json or folder>...",
         [](const TempDir& dir) { return C2Pool(dir, {}); }},
        {"\"…\" is not a usable Marrowby submission: ….",
         [](const TempDir& dir) {
             BareSubmission(dir);
             return C2Pool(dir, {"check", "s.json"});
         }},
        {"\"…\" is a symbolic link: c2pool reads no links.",
         [](const TempDir& dir) {
             BareSubmission(dir);
             std::filesystem::create_symlink("s.json", dir / "link.json");
             return C2Pool(dir, {"check", "link.json"});
         }},
        {"\"…\" was removed from the pool, and cannot come back: …",
         [](const TempDir& dir) {
             (void)RunProgram(BuiltProgram("c2pool_examples"), {(dir / "in").string(), "1"});
             C2Pool(dir, {"add", "pool.sqlite", "in"});
             const auto file = std::filesystem::directory_iterator(dir / "in")->path();
             std::ifstream in(file, std::ios::binary);
             const std::string text{std::istreambuf_iterator<char>(in), {}};
             const std::string id =
                 runtime::Sha256Hex(
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
                     .substr(0, 12);
             C2Pool(dir, {"remove", "pool.sqlite", id, "--reason", "a copied disc"});
             return C2Pool(dir, {"add", "pool.sqlite", "in"});
         }},
        {"\"…\" is not a pool of c2pool (…): c2pool leaves it as it is.",
         [](const TempDir& dir) {
             std::ofstream(dir / "pool.sqlite") << "not a database";
             BareSubmission(dir);
             return C2Pool(dir, {"add", "pool.sqlite", "s.json"});
         }},
        {"\"…\" is not a pool of c2pool: c2pool leaves it as it is.",
         [](const TempDir& dir) {
             std::ofstream{dir /
                           "pool.sqlite"};  // SQLite takes an empty file for an empty database
             BareSubmission(dir);
             return C2Pool(dir, {"add", "pool.sqlite", "s.json"});
         }},
        {"\"…\" is a pool of another schema version (…; this c2pool reads version …): c2pool "
         "leaves it as it is.",
         [](const TempDir& dir) {
             EmptyPool(dir);
             std::fstream pool(dir / "pool.sqlite",
                               std::ios::in | std::ios::out | std::ios::binary);
             pool.seekp(60);  // the database header's user_version, big-endian
             pool.write("\0\0\0\x02", 4);
             pool.close();
             return C2Pool(dir, {"site", "pool.sqlite", "site"});
         }},
        {"There is no pool at \"…\".",
         [](const TempDir& dir) {
             return C2Pool(dir, {"site", "pool.sqlite", "site"});
         }},
        {"There is no submission … in \"…\".",
         [](const TempDir& dir) {
             EmptyPool(dir);
             return C2Pool(dir, {"remove", "pool.sqlite", "0123456789ab", "--reason", "why"});
         }},
        {"\"…\" is not a submission id (12 hex digits, as \"0123456789ab\").",
         [](const TempDir& dir) {
             return C2Pool(dir, {"remove", "pool.sqlite", "12345", "--reason", "why"});
         }},
        {"Cannot write \"…\" (…); the file is as it was before.",
         [](const TempDir& dir) {
             EmptyPool(dir);
             std::filesystem::create_directories(dir / "site" / "index.html");
             return C2Pool(dir, {"site", "pool.sqlite", "site"});
         }},
#endif
    };
    return cases;
}

// Where a message is the same in two programs, the case is keyed by "<program>:<message>".
const Case* FindCase(const DocumentedFailure& failure) {
    const auto& cases = Cases();
    if (auto found = cases.find(failure.program + ":" + failure.message); found != cases.end()) {
        return &found->second;
    }
    if (auto found = cases.find(failure.message); found != cases.end()) {
        return &found->second;
    }
    return nullptr;
}

TEST(FailuresDocumented, EachDocumentedFailureShowsItsMessageAndExitCode) {
    const std::vector<DocumentedFailure> failures = ReadDocumentedFailures();
    std::set<const Case*> used;
    for (const DocumentedFailure& failure : failures) {
        SCOPED_TRACE(failure.program + ": " + failure.message);
        const Case* run = FindCase(failure);
        ASSERT_NE(run, nullptr) << "no case makes this failure happen";
        used.insert(run);
        const TempDir dir;
        const RunResult result = (*run)(dir);
        EXPECT_TRUE(std::regex_search(result.out + result.err, MessagePattern(failure.message)))
            << "standard output:\n"
            << result.out << "\nstandard error:\n"
            << result.err;
        EXPECT_EQ(result.exitCode, failure.exitCode);
    }
    // A case whose message is not in the README any more names a failure left undocumented.
    for (const auto& [message, run] : Cases()) {
        EXPECT_TRUE(used.contains(&run)) << "not in the README: " << message;
    }
}

}  // namespace

// c2report given files from strangers, through the built program: studies and verdicts that
// lie, name each other, point outside their folder or are not files at all. Each run must end
// with a message naming what is wrong and exit 1, leave every input byte as it was and write
// nothing anywhere else.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "simdrive/audio_source.h"
#include "tests/report/study_files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using report_test::Json;
using report_test::PassEntry;
using report_test::StudyJson;
using testing_support::RunResult;

// Every regular file under a folder, with its bytes; links as their target's name.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).generic_string();
        if (entry.is_symlink()) {
            files[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            files[name] = testing_support::ReadFileText(entry.path());
        }
    }
    return files;
}

// The study's folder is "drive/" inside the test's folder; outside it lies "outside.txt".
class HostileFiles : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_ / "drive");
        simdrive::PatternSource source(kSectors, 7);
        std::string error;
        ASSERT_TRUE(simdrive::WriteWavFile(Path("Reference.wav"), source, error));
        std::ofstream(dir_ / "outside.txt") << "not c2report's";
    }
    std::string Path(const std::string& name) const { return (dir_ / "drive" / name).string(); }
    void WritePass(const std::string& wav, const std::string& c2) {
        report_test::WriteSyntheticPass(Path("Reference.wav"), Path(wav), Path(c2), {});
    }
    void WriteText(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    void WriteStudy(const Json& passes, const std::string& name = "D.study.json") {
        WriteText(name, StudyJson(passes).dump(1));
    }
    static Json Pass(const std::string& form, const std::string& speed, const std::string& wav,
                     const std::string& c2) {
        Json pass = PassEntry(form, speed, true);
        pass["wav"] = wav;
        pass["c2"] = c2;
        pass["sectors"] = kSectors;
        return pass;
    }
    RunResult Run(const std::vector<std::string>& arguments) {
        testing_support::RunOptions options;
        options.workingDirectory = dir_ / "drive";
        return testing_support::RunProgram(testing_support::BuiltProgram("c2report"), arguments,
                                           options);
    }
    RunResult Study(const std::string& study = "D.study.json",
                    const std::string& reference = "Reference.wav") {
        return Run({"--study", reference, study});
    }
    // Runs, and expects a refusal with `message` and every file as it was before.
    void ExpectRefused(const std::function<RunResult()>& run, const std::string& message) {
        const auto before = Snapshot(dir_.Path());
        const RunResult result = run();
        EXPECT_EQ(result.err.substr(0, message.size()), message) << result.err;
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(Snapshot(dir_.Path()), before) << message;
    }

    static constexpr std::int64_t kSectors = 300;
    testing_support::TempDir dir_;
};

TEST_F(HostileFiles, FilesThatAreNotOursOrNotJsonAreRefusedWithTheReason) {
    WriteText("Tiny.json", R"({"format":1})");
    ExpectRefused([&] { return Study("Tiny.json"); }, "\"Tiny.json\" is not a Quellor study.\n");
    ExpectRefused(
        [&] {
            return Run({"--compare", "Tiny.json"});
        },
        "\"Tiny.json\" is not a c2report verdict.\n");
    WriteText("Nan.json", "{\"format\": \"Quellor study\",\n \"formatVersion\": NaN}");
    ExpectRefused([&] { return Study("Nan.json"); },
                  "\"Nan.json\" is not JSON: line 2, column 19: ");
    WriteText("Deep.json", std::string(17, '[') + std::string(17, ']'));
    ExpectRefused([&] { return Study("Deep.json"); },
                  "\"Deep.json\" is not JSON: nested deeper than 16 levels.\n");
    WriteText("Twice.json", R"({"format": "Quellor study", "format": "Quellor study"})");
    ExpectRefused([&] { return Study("Twice.json"); },
                  "\"Twice.json\" is not JSON: the key \"format\" is there twice.\n");
    const Json study = StudyJson(Json::array({Pass("d8", "8x", "a.wav", "a.c2")}));
    Json version = study;
    version["formatVersion"] = 4294967297;
    WriteText("Version.json", version.dump());
    ExpectRefused([&] { return Study("Version.json"); },
                  "\"Version.json\" is a Quellor study of another format version (4294967297; "
                  "this c2report reads 1).\n");
    fs::create_directory(dir_ / "drive" / "Folder.json");
    ExpectRefused([&] { return Study("Folder.json"); },
                  "\"Folder.json\" is a folder, not a file: c2report reads only regular files.\n");
}

TEST_F(HostileFiles, NumbersOutOfTheirRangeAreRefusedNamingTheField) {
    const Json good = StudyJson(
        Json::array({Pass("d8", "8x", "a.wav", "a.c2"), Pass("d8", "max", "b.wav", "b.c2")}));
    const std::pair<std::string, Json> cases[] = {
        {"/passes/1/sectors", -5},
        {"/passes/1/sectors", 1e300},
        {"/passes/1/sectors", 3.0},
        {"/passes/0/speedReportedKBps", 1e300},
        {"/passes/0/failedSectors", kSectors + 1},
        {"/passes/0/form", "c2-magic"},
        {"/passes/0/speedRequested", "9999x"},
        {"/passes/1/wav", "../b.wav"},
        {"/passes/1/wav", "/tmp/b.wav"},
        {"/passes/1/c2", "sub/b.c2"},
        {"/passes/1/c2", std::string("b.c2\0.wav", 9)},
        {"/passes", Json::array()},
    };
    const std::string messages[] = {
        "passes[1].sectors: -5 is not a sector count (a whole number from 0 to 450000).",
        "passes[1].sectors: 1e+300 is not a sector count",
        "passes[1].sectors: 3.0 is not a sector count",
        "passes[0].speedReportedKBps: 1e+300 is not a speed in kB/s",
        "passes[0].failedSectors: 301 is not a count of the pass's sectors",
        "passes[0].form: \"c2-magic\" is not a form Quellor reads",
        "passes[0].speedRequested: \"9999x\" is not a speed Quellor asks for",
        "passes[1].wav: \"../b.wav\" is not a plain file name",
        "passes[1].wav: \"/tmp/b.wav\" is not a plain file name",
        "passes[1].c2: \"sub/b.c2\" is not a plain file name",
        "passes[1].c2: \"b.c2\\u0000.wav\" holds a NUL byte",
        "passes holds no pass: a study that read nothing cannot be judged.\n",
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Json study = good;
        study[Json::json_pointer(cases[i].first)] = cases[i].second;
        WriteStudy(study["passes"]);
        ExpectRefused([&] { return Study(); },
                      "\"D.study.json\" is not a usable Quellor study: " + messages[i]);
    }
}

TEST_F(HostileFiles, PassesThatRepeatOrShareFilesAreRefused) {
    WriteStudy(Json::array({Pass("d8", "8x", "a.wav", "a.c2"), Pass("d8", "8x", "b.wav", "b.c2")}));
    ExpectRefused([&] { return Study(); },
                  "\"D.study.json\" is not a usable Quellor study: passes[1] reads d8 at 8x "
                  "again, as passes[0] does.\n");
    WriteStudy(
        Json::array({Pass("d8", "8x", "a.wav", "a.c2"), Pass("d8", "max", "a.wav", "b.c2")}));
    ExpectRefused([&] { return Study(); },
                  "\"D.study.json\" is not a usable Quellor study: passes[1].wav: \"a.wav\" is "
                  "also a file of passes[0]: each file belongs to one pass.\n");
}

TEST_F(HostileFiles, NoOutputReplacesAnInputOrAnotherOutput) {
    WritePass("A.wav", "A.c2");
    WritePass("B.wav", "B.c2");
    // Pass 1's pointers are where pass 2's verdict would go.
    WriteStudy(Json::array(
        {Pass("d8", "8x", "B.wav", "A.report.json"), Pass("d8", "max", "A.wav", "A.c2")}));
    ExpectRefused([&] { return Study(); },
                  "\"A.report.json\" is an input and also where c2report writes \"A.report.json\"");
    // A pass's files named like the study page; the study file itself named so.
    WriteStudy(Json::array({Pass("d8", "8x", "A.wav", "D.study.html")}));
    ExpectRefused([&] { return Study(); }, "\"D.study.html\" is an input");
    WriteStudy(Json::array({Pass("d8", "8x", "A.wav", "A.c2")}), "E.study.html");
    ExpectRefused([&] { return Study("E.study.html"); }, "\"E.study.html\" is an input");
    fs::copy_file(Path("Reference.wav"), Path("D.study.html"));
    ExpectRefused([&] { return Study("D.study.json", "D.study.html"); },
                  "\"D.study.html\" is an input and also where c2report writes \"D.study.html\"");
    // Two passes whose files differ only in their extension would write the same verdict.
    WriteStudy(
        Json::array({Pass("d8", "8x", "A.wav", "A.c2"), Pass("d8", "max", "A.raw", "B.c2")}));
    ExpectRefused([&] { return Study(); }, "c2report would write \"");
    // The ranking's own files given as verdicts.
    fs::copy_file(Path("D.study.json"), Path("comparison.html"));
    fs::copy_file(Path("D.study.json"), Path("comparison.csv"));
    ExpectRefused(
        [&] {
            return Run({"--compare", "comparison.html", "comparison.csv"});
        },
        "\"comparison.csv\" is an input and also where c2report writes");
}

TEST_F(HostileFiles, AStudyWritesOnlyBesideItsStudyFile) {
    WritePass("A.wav", "A.c2");
    WriteStudy(Json::array({Pass("d8", "8x", "A.wav", "A.c2")}));
    testing_support::RunOptions options;
    options.workingDirectory = dir_.Path();
    const RunResult fromAbove = testing_support::RunProgram(
        testing_support::BuiltProgram("c2report"),
        {"--study", "drive/Reference.wav", "drive/D.study.json"}, options);
    ASSERT_EQ(fromAbove.exitCode, 0) << fromAbove.err;
    EXPECT_TRUE(fs::exists(dir_ / "drive" / "A.report.json"));
    EXPECT_TRUE(fs::exists(dir_ / "drive" / "D.study.html"));
    for (const auto& [name, bytes] : Snapshot(dir_.Path())) {
        EXPECT_TRUE(name.starts_with("drive/") || name == "outside.txt") << name;
        EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
    }
    // The page's link to the pass's page is relative.
    const std::string page = testing_support::ReadFileText(dir_ / "drive" / "D.study.html");
    EXPECT_NE(page.find("href=\"A.report.html\""), std::string::npos);
    EXPECT_EQ(page.find("href=\"/"), std::string::npos);
}

TEST_F(HostileFiles, ARepeatedVerdictIsNamedAsARepeat) {
    WritePass("A.wav", "A.c2");
    ASSERT_EQ(Run({"Reference.wav", "A.wav", "A.c2"}).exitCode, 0);
    fs::copy_file(Path("A.report.json"), Path("Copy.json"));
    ExpectRefused(
        [&] {
            return Run({"--compare", "A.report.json", "A.report.json"});
        },
        "\"A.report.json\" repeats \"A.report.json\" (the same verdict)");
    ExpectRefused(
        [&] {
            return Run({"--compare", "A.report.json", "Copy.json"});
        },
        "\"Copy.json\" repeats \"A.report.json\" (the same verdict): each drive is "
        "ranked once.\n");
    Json verdict = Json::parse(testing_support::ReadFileText(Path("A.report.json")));
    const std::pair<std::string, Json> cases[] = {
        {"/bytesCompared", -1},
        {"/zeroFilled/sectors", -5},
        {"/c2/best/bytes/missed", 1e15},
        {"/inputs/reference/sha256", "not a hash"},
    };
    const std::string messages[] = {
        "bytesCompared: -1 is not a count of bytes compared",
        "zeroFilled.sectors: -5 is not a sector count",
        "c2.best.bytes.missed: 1e+15 is not a count of the bytes compared",
        "inputs.reference.sha256: \"not a hash\" is not a SHA-256",
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Json lie = verdict;
        lie[Json::json_pointer(cases[i].first)] = cases[i].second;
        WriteText("Lie.json", lie.dump());
        ExpectRefused(
            [&] {
                return Run({"--compare", "Lie.json"});
            },
            "\"Lie.json\" is not a usable c2report verdict: " + messages[i]);
    }
}

TEST_F(HostileFiles, TheShortFileIsTheOneNamed) {
    WritePass("A.wav", "A.c2");
    const std::string wav = testing_support::ReadFileText(Path("A.wav"));
    WriteText("Header.wav", wav.substr(0, 40) + std::string(4, '\0'));
    ExpectRefused(
        [&] {
            return Run({"Reference.wav", "Header.wav", "A.c2"});
        },
        "\"Header.wav\" holds no audio: only a header.\n");
    WriteText("Long.c2", testing_support::ReadFileText(Path("A.c2")) + std::string(588, '\0'));
    ExpectRefused(
        [&] {
            return Run({"Reference.wav", "A.wav", "Long.c2"});
        },
        "\"A.wav\" is short: it holds 300 sectors of audio, and \"Long.c2\" pointers "
        "for 302.\n");
}

TEST_F(HostileFiles, ControlCharactersFromAFileAreShownEscaped) {
    WritePass("A.wav", "A.c2");
    Json study = StudyJson(Json::array({Pass("d8", "8x", "A.wav", "A.c2")}));
    study["drive"]["vendor"] = "\x1b[2J\x1b]0;owned\x07";
    WriteText("D.study.json", study.dump());
    const RunResult run = Study();
    // Judged, but not shared: no INQUIRY vendor holds an escape sequence.
    ASSERT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("No submission written: \"D.submission.json\" is not a usable "
                           "Marrowby submission: drive.vendor: \"\\u001b[2J"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    EXPECT_NE(run.out.find("Study of \\x1b[2J\\x1b]0;owned\\x07 "), std::string::npos) << run.out;
    // A verdict's own texts, in the ranking's table.
    Json verdict = Json::parse(testing_support::ReadFileText(Path("A.report.json")));
    verdict["study"]["form"] = "d8\u009b31m";
    verdict["c2"]["best"]["shift"]["text"] = "late\r";
    WriteText("Odd.json", verdict.dump());
    const RunResult compare = Run({"--compare", "Odd.json"});
    ASSERT_EQ(compare.exitCode, 0) << compare.err;
    EXPECT_NE(compare.out.find("d8\\u009b31m"), std::string::npos) << compare.out;
    EXPECT_NE(compare.out.find("late\\x0d"), std::string::npos) << compare.out;
    EXPECT_EQ(compare.out.find('\r'), std::string::npos);
}

#ifndef _WIN32
TEST_F(HostileFiles, FifosAndDevicesAreRefusedWithoutHanging) {
    ASSERT_EQ(mkfifo(Path("Fifo").c_str(), 0600), 0);
    WritePass("A.wav", "A.c2");
    WriteStudy(Json::array({Pass("d8", "8x", "Fifo", "A.c2")}));
    const std::string fifo = "\"Fifo\" is a FIFO (named pipe), not a file";
    ExpectRefused([&] { return Study("Fifo"); }, fifo);
    ExpectRefused([&] { return Study("D.study.json", "Fifo"); }, fifo);
    ExpectRefused([&] { return Run({"--compare", "Fifo"}); }, fifo);
    ExpectRefused([&] { return Run({"Reference.wav", "Fifo", "A.c2"}); }, fifo);
    ExpectRefused([&] { return Run({"Reference.wav", "A.wav", "Fifo"}); }, fifo);
    // A pass's file: that pass is not judged, the run still ends.
    const RunResult pass = Study();
    EXPECT_EQ(pass.exitCode, 1);
    EXPECT_EQ(pass.err.rfind(fifo, 0), 0u) << pass.err;
    ExpectRefused(
        [&] {
            return Run({"--compare", "/dev/zero"});
        },
        "\"/dev/zero\" is a device, not a file");
}

TEST_F(HostileFiles, AnOutputThatIsALinkIsReplacedNotFollowed) {
    WritePass("A.wav", "A.c2");
    fs::create_symlink(dir_ / "outside.txt", Path("A.report.csv"));
    const RunResult run = Run({"Reference.wav", "A.wav", "A.c2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(testing_support::ReadFileText(dir_ / "outside.txt"), "not c2report's");
    EXPECT_FALSE(fs::is_symlink(Path("A.report.csv")));
    EXPECT_NE(testing_support::ReadFileText(Path("A.report.csv")).find("sector"),
              std::string::npos);
}

// Interrupted at moments spread over its run, c2report leaves no temporary file behind.
TEST_F(HostileFiles, AnInterruptLeavesNoTemporaryFile) {
    WritePass("A.wav", "A.c2");
    const std::string program = testing_support::BuiltProgram("c2report").string();
    for (int delayMs = 2; delayMs <= 40; delayMs += 6) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int quiet = open("/dev/null", O_WRONLY);
            if (chdir(Path("").c_str()) != 0 || dup2(quiet, 1) < 0 || dup2(quiet, 2) < 0) {
                _exit(127);
            }
            execl(program.c_str(), program.c_str(), "Reference.wav", "A.wav", "A.c2", nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(child, SIGINT);
        int status = 0;
        waitpid(child, &status, 0);
        for (const auto& [name, bytes] : Snapshot(dir_.Path())) {
            EXPECT_EQ(name.find(".partial"), std::string::npos) << name << " after " << delayMs;
        }
    }
}
#endif

}  // namespace

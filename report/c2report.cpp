#include "report/c2report.h"

#include "report/judge.h"
#include "report/output/output_file.h"
#include "report/output/ranking.h"
#include "report/output/summary.h"
#include "report/study.h"
#include "report/verify.h"

namespace report {
namespace {

const char* const kUsage =
    "Usage : c2report <Reference.wav> <drive>.wav <drive>.c2\n"
    "        c2report --compare <drive>.report.json ...\n"
    "        c2report --study <Reference.wav> <drive>.study.json\n"
    "        c2report --verify <Reference.wav> <drive>.submission.json";

}  // namespace

int BuildVerdict(const std::vector<std::string>& args, Verdict& verdict, std::ostream& out,
                 std::ostream& err) {
    if (args.size() != 3) {
        err << kUsage << '\n';
        return kExitBadInput;
    }
    ReferenceImage reference;
    if (!OpenReference(args[0], reference, out, err)) {
        return kExitBadInput;
    }
    return JudgePass(reference, args[1], args[2], false, verdict, out, err);
}

int RunC2Report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == "--compare") {
        return RunCompare({args.begin() + 1, args.end()}, out, err);
    }
    if (!args.empty() && (args[0] == "--study" || args[0] == "--verify")) {
        if (args.size() != 3) {
            err << kUsage << '\n';
            return kExitBadInput;
        }
        return args[0] == "--study" ? RunStudy(args[1], args[2], out, err)
                                    : RunVerify(args[1], args[2], out, err);
    }
    if (args.size() != 3) {
        err << kUsage << '\n';
        return kExitBadInput;
    }
    OutputPlan plan;
    for (const std::string& input : args) {
        plan.AddInput(input);
    }
    for (const std::string& output : VerdictOutputs(args[1])) {
        plan.AddOutput(output);
    }
    if (const int code = RefuseClashes(plan, err); code != kExitOk) {
        return code;
    }
    Verdict verdict;
    if (const int code = BuildVerdict(args, verdict, out, err); code != kExitOk) {
        return code;
    }
    WriteSummary(verdict, out);
    if (const int code = WriteVerdictFiles(verdict, args[1], out, err); code != kExitOk) {
        return code;
    }
    return FlushConsole(out, err, "Cannot write the summary to standard output.") ? kExitOk
                                                                                  : kExitIoError;
}

}  // namespace report

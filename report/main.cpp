// c2report <Reference.wav> <drive>.wav <drive>.c2: how honest were the drive's C2 pointers.
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "report/c2report.h"

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        const int code = report::RunC2Report(arguments, std::cout, std::cerr);
        std::cout.flush();
        return code;
    } catch (const std::bad_alloc&) {
        std::cerr << "Out of memory.\n";
    } catch (const std::exception& failure) {
        // A failure no reader foresaw still ends in a sentence, never an abort.
        std::cerr << "Internal error: " << failure.what() << '\n';
    }
    return report::kExitIoError;
}

// c2report <Reference.wav> <drive>.wav <drive>.c2: how honest were the drive's C2 pointers.
#include <iostream>
#include <string>
#include <vector>

#include "report/c2report.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int code = report::RunC2Report(arguments, std::cout, std::cerr);
    std::cout.flush();
    return code;
}

// c2pool add|remove|site|check: pools many users' submissions and makes a static site of them.
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "pool/c2pool.h"

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        // c2pool is built for Linux only, so its one question to the OS is asked here.
        const int code = pool::RunC2Pool(arguments, std::cout, std::cerr, isatty(1) == 1);
        std::cout.flush();
        return std::cout ? code : pool::kExitFailed;
    } catch (const std::bad_alloc&) {
        std::cerr << "Out of memory.\n";
    } catch (const std::exception& failure) {
        // A failure no reader foresaw still ends in a sentence, never an abort.
        std::cerr << "Internal error: " << failure.what() << '\n';
    }
    return pool::kExitFailed;
}

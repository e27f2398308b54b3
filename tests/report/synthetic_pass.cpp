#include "tests/report/synthetic_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "tests/support/program_run.h"

namespace report_test {
namespace {

constexpr std::int64_t kHeaderBytes = 44;

void Patch(std::fstream& file, std::int64_t at, const std::vector<char>& bytes) {
    file.seekp(at);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

void FlagWholeSector(SyntheticPass& pass, std::int64_t sector) {
    for (std::int32_t b = 0; b < kSectorBytes; ++b) {
        pass.flagged.emplace_back(sector, b);
    }
}

void WriteSyntheticPass(const std::filesystem::path& reference, const std::filesystem::path& wav,
                        const std::filesystem::path& c2, const SyntheticPass& pass) {
    std::filesystem::copy_file(reference, wav, std::filesystem::copy_options::overwrite_existing);
    const auto sectors =
        static_cast<std::int64_t>(std::filesystem::file_size(wav) - kHeaderBytes) / kSectorBytes;
    {
        std::fstream audio(wav, std::ios::in | std::ios::out | std::ios::binary);
        for (const auto& [sector, byte] : pass.wrong) {
            const std::int64_t at = kHeaderBytes + sector * kSectorBytes + byte;
            audio.seekg(at);
            const char value = static_cast<char>(audio.get() ^ 0x5A);
            Patch(audio, at, {value});
        }
        for (const std::int64_t sector : pass.zeroFilled) {
            Patch(audio, kHeaderBytes + sector * kSectorBytes, std::vector<char>(kSectorBytes, 0));
        }
        ASSERT_TRUE(audio.good()) << wav;
    }
    // The delivered pointer stream, only its non-zero bytes.
    std::map<std::int64_t, std::uint8_t> bytes;
    for (const auto& [sector, byte] : pass.flagged) {
        const std::int64_t bit = sector * kSectorBytes + byte + pass.lagBytes * 8;
        bytes[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
    }
    for (const std::int64_t sector : pass.zeroFilled) {
        bytes.erase(bytes.lower_bound(sector * kPointerBytes),
                    bytes.lower_bound((sector + 1) * kPointerBytes));
    }
    for (const auto& [first, count] : pass.setPointerBytes) {
        for (std::int64_t at = first; at < first + count; ++at) {
            bytes[at] = 0xFF;
        }
    }
    std::ofstream(c2, std::ios::binary | std::ios::trunc).close();
    std::filesystem::resize_file(c2, static_cast<std::uintmax_t>(sectors * kPointerBytes));
    std::fstream pointers(c2, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [at, value] : bytes) {
        if (at < sectors * kPointerBytes) {
            Patch(pointers, at, {static_cast<char>(value)});
        }
    }
    ASSERT_TRUE(pointers.good()) << c2;
}

bool WriteGenuineReference(const std::filesystem::path& folder) {
    testing_support::RunOptions options;
    options.workingDirectory = folder;
    const auto run =
        testing_support::RunProgram(testing_support::BuiltProgram("Tamblin"), {}, options);
    return run.exitCode == 0 && std::filesystem::file_size(folder / "Reference.wav") == 783'216'044;
}

}  // namespace report_test

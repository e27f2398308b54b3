#include "report/output/summary.h"

#include <algorithm>

#include "report/comparison/cd_format.h"
#include "report/output/text.h"

namespace report {
namespace {

// Clean stretches shorter than this join two damaged ones into one region.
constexpr std::int64_t kRegionGapSectors = 8;

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) {
        return "n/a";
    }
    return Decimals(100.0 * static_cast<double>(part) / whole, 2) + " %";
}

std::string Share(double share) {
    return Decimals(100.0 * share, 1) + " %";
}

std::string Column(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 1, ' ');
}

void TallyLines(const Tally& bytes, const Tally& samples, std::ostream& out) {
    auto line = [&](const std::string& label, const std::string& a, const std::string& b) {
        out << "  " << Column(label, 34) << Column(a, 16) << b << '\n';
    };
    line("", "bytes", "samples");
    line("wrong", Grouped(bytes.wrong), Grouped(samples.wrong));
    line("flagged by C2", Grouped(bytes.flagged), Grouped(samples.flagged));
    line("detected (wrong and flagged)", Grouped(bytes.detected), Grouped(samples.detected));
    line("missed (wrong, not flagged)", Grouped(bytes.Missed()), Grouped(samples.Missed()));
    line("false flags (flagged, not wrong)", Grouped(bytes.FalseFlags()),
         Grouped(samples.FalseFlags()));
    line("detection rate (of wrong)", Percent(bytes.detected, bytes.wrong),
         Percent(samples.detected, samples.wrong));
    line("false-flag rate (of flagged)", Percent(bytes.FalseFlags(), bytes.flagged),
         Percent(samples.FalseFlags(), samples.flagged));
}

void AlignmentLines(const Verdict& verdict, std::ostream& out) {
    const Alignment& a = verdict.alignment;
    out << "Read offset:         " << SignedNumber(a.offsetFrames)
        << " samples (the drive's sample i is the reference's sample i "
        << (a.offsetFrames < 0 ? "- " : "+ ") << std::abs(a.offsetFrames) << ")"
        << (a.channelsSwapped ? ", LEFT AND RIGHT CHANNELS SWAPPED" : ", channels in order")
        << '\n';
    out << "Match:               " << a.agreeing << " of " << a.probes << " probe windows agree; "
        << Share(a.matchShare)
        << " of their samples match exactly (best other offset: " << Share(a.runnerUpShare)
        << ")\n";
    if (verdict.coverage.samplesOutsideReference > 0) {
        out << "                     " << Grouped(verdict.coverage.samplesOutsideReference)
            << " samples at the disc's edge lie outside the reference; they are compared with "
               "silence\n";
    }
}

void C2AlignmentLines(const Verdict& verdict, std::ostream& out) {
    const Tally& literal = verdict.literal.bytes;
    out << "C2 pointer alignment (bytes):\n";
    out << "  as delivered:      detection " << Percent(literal.detected, literal.wrong)
        << ", false flags " << Percent(literal.FalseFlags(), literal.flagged) << " of "
        << Grouped(literal.flagged) << " flags\n";
    if (!verdict.moved) {
        out << "  best:              as delivered (no sector or byte shift fits better)\n";
        return;
    }
    const Tally& moved = verdict.moved->bytes;
    out << "  best:              " << verdict.best.shift.Describe() << ": detection "
        << Percent(moved.detected, moved.wrong) << ", false flags "
        << Percent(moved.FalseFlags(), moved.flagged) << " of " << Grouped(moved.flagged)
        << " flags\n";
}

void GranularityLines(const Verdict& verdict, std::ostream& out) {
    const FlagGranularity& g = verdict.Best().granularity;
    auto line = [&](const std::string& label, std::uint64_t count) {
        out << "  " << Column(label, 34) << Grouped(count) << '\n';
    };
    out << "Flag granularity (" << verdict.best.shift.Describe() << "):\n";
    line("false flags", g.falseFlags);
    line("  on the other byte of a wrong sample", g.onWrongSample);
    line("  elsewhere in sectors with errors", g.inSectorWithErrors);
    line("  in sectors without errors", g.inSectorWithoutErrors);
    line("sectors flagged whole (294 bytes)", g.sectorsFlaggedWhole);
}

void RegionLines(const std::vector<SectorCounts>& sectors, std::ostream& out) {
    const std::vector<Region> regions = WorstRegions(sectors);
    if (regions.empty()) {
        out << "Worst regions:       none; every sector matches the reference and nothing is "
               "flagged\n";
        return;
    }
    out << "Worst regions (most missed bytes first; " << regions.size() << " in all):\n";
    for (std::size_t i = 0; i < std::min(regions.size(), kWorstRegions); ++i) {
        const Region& r = regions[i];
        out << "  sectors " << Grouped(r.first) << "-" << Grouped(r.end - 1) << " ("
            << SectorTime(r.first) << "-" << SectorTime(r.end - 1)
            << "): " << Grouped(r.bytes.wrong) << " wrong, " << Grouped(r.bytes.detected)
            << " detected, " << Grouped(r.bytes.Missed()) << " missed, "
            << Grouped(r.bytes.FalseFlags()) << " false flags";
        if (r.zeroFilled > 0) {
            out << "; " << Grouped(r.zeroFilled) << " sectors zero-filled";
        }
        out << '\n';
    }
}

std::string Sectors(std::int64_t count) {
    return Grouped(count) + (count == 1 ? " sector" : " sectors");
}

// Only when the extraction and the reference do not cover each other exactly.
void CoverageLines(const Coverage& c, std::ostream& out) {
    if (c.ExtraBefore() == 0 && c.ExtraAfter() == 0 && c.Missing() == 0) {
        return;
    }
    out << "Sectors compared:    " << Grouped(c.Compared()) << " (sectors "
        << Grouped(c.firstCompared) << "-" << Grouped(c.endCompared - 1) << "); the reference has "
        << Grouped(c.referenceSectors) << '\n';
    auto extra = [&](std::int64_t count, std::int64_t first, const char* where, bool zeros) {
        if (count > 0) {
            out << "Extra sectors:       " << Sectors(count) << " " << where << " (sectors "
                << Grouped(first) << "-" << Grouped(first + count - 1) << "), "
                << (zeros ? "all zeros" : "not all zeros") << "; not compared\n";
        }
    };
    extra(c.ExtraBefore(), 0, "before the reference's start", c.extraBeforeAllZero);
    extra(c.ExtraAfter(), c.endCompared, "past the reference's end", c.extraAfterAllZero);
    if (c.Missing() > 0) {
        out << "Missing sectors:     " << Sectors(c.Missing()) << " of the reference not in the "
            << "extraction (" << Grouped(c.missingAtStart) << " at its start, "
            << Grouped(c.missingAtEnd) << " at its end)\n";
    }
}

std::int64_t ZeroFilledRuns(const std::vector<SectorCounts>& sectors) {
    std::int64_t runs = 0;
    bool inside = false;
    for (const SectorCounts& s : sectors) {
        runs += s.zeroFilled && !inside ? 1 : 0;
        inside = s.zeroFilled;
    }
    return runs;
}

void PutCounts(const SectorCounts& c, std::string& line) {
    for (const int value :
         {int{c.wrongBytes}, int{c.flaggedBytes}, int{c.detectedBytes},
          c.wrongBytes - c.detectedBytes, c.flaggedBytes - c.detectedBytes, int{c.wrongSamples},
          int{c.flaggedSamples}, int{c.detectedSamples}, c.wrongSamples - c.detectedSamples,
          c.flaggedSamples - c.detectedSamples}) {
        line += ',';
        line += std::to_string(value);
    }
}

}  // namespace

std::vector<Region> FindRegions(const std::vector<SectorCounts>& sectors) {
    std::vector<Region> regions;
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        const SectorCounts& s = sectors[i];
        if (s.wrongBytes == 0 && s.flaggedBytes == 0) {
            continue;
        }
        const auto sector = static_cast<std::int64_t>(i);
        if (regions.empty() || sector - regions.back().end >= kRegionGapSectors) {
            regions.push_back(Region{sector, sector, {}, 0});
        }
        Region& r = regions.back();
        r.end = sector + 1;
        if (s.zeroFilled) {
            ++r.zeroFilled;  // a failed read, kept out of the C2 counts
            continue;
        }
        r.bytes.wrong += s.wrongBytes;
        r.bytes.flagged += s.flaggedBytes;
        r.bytes.detected += s.detectedBytes;
    }
    return regions;
}

std::vector<Region> WorstRegions(const std::vector<SectorCounts>& sectors) {
    std::vector<Region> regions = FindRegions(sectors);
    std::stable_sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) {
        if (a.bytes.Missed() != b.bytes.Missed()) {
            return a.bytes.Missed() > b.bytes.Missed();
        }
        if (a.bytes.wrong != b.bytes.wrong) {
            return a.bytes.wrong > b.bytes.wrong;
        }
        return a.bytes.FalseFlags() > b.bytes.FalseFlags();
    });
    return regions;
}

void WriteSummary(const Verdict& verdict, std::ostream& out) {
    const PassResult& literal = verdict.literal;
    const Coverage& coverage = verdict.coverage;
    out << "Reference:           " << verdict.reference.path
        << (verdict.genuineReference ? " (the genuine image)"
                                     : " (NOT the genuine image: its SHA-256 differs)")
        << '\n'
        << "Extraction:          " << verdict.extraction.path << ", " << verdict.c2.path << '\n';
    AlignmentLines(verdict, out);
    out << "Sectors read:        " << Grouped(coverage.extractionSectors) << " ("
        << SectorTime(coverage.extractionSectors) << ")\n";
    CoverageLines(coverage, out);
    out << "Sectors with errors: " << Grouped(literal.sectorsWithErrors);
    if (literal.zeroFilledSectors > 0) {
        out << ", of which " << Grouped(literal.zeroFilledSectors)
            << " zero-filled (not delivered: unreadable) in "
            << Grouped(ZeroFilledRuns(literal.sectors)) << " runs\n"
            << "                     their " << Grouped(literal.undeliveredBytes)
            << " wrong bytes are a failed read, not a C2 verdict: left out below";
    }
    out << "\nC2 pointers as delivered:\n";
    TallyLines(literal.bytes, literal.samples, out);
    C2AlignmentLines(verdict, out);
    if (verdict.moved) {
        out << "C2 pointers " << verdict.best.shift.Describe() << ":\n";
        TallyLines(verdict.moved->bytes, verdict.moved->samples, out);
    }
    GranularityLines(verdict, out);
    RegionLines(literal.sectors, out);
}

void WriteSectorTable(const Verdict& verdict, std::ostream& out) {
    const std::string columns =
        "wrong_bytes,flagged_bytes,detected_bytes,missed_bytes,false_flag_bytes,wrong_samples,"
        "flagged_samples,detected_samples,missed_samples,false_flag_samples";
    out << "sector,time," << columns << ",zero_filled";
    if (verdict.moved) {
        std::string moved = "," + columns;
        for (std::size_t at = 0; (at = moved.find(',', at)) != std::string::npos; ++at) {
            moved.insert(at + 1, "moved_");
        }
        out << moved;
    }
    out << '\n';
    std::string line;
    const auto first = static_cast<std::size_t>(verdict.coverage.firstCompared);
    const auto end = static_cast<std::size_t>(verdict.coverage.endCompared);
    for (std::size_t i = first; i < end; ++i) {
        const SectorCounts& c = verdict.literal.sectors[i];
        line = std::to_string(i) + ',' + SectorTime(static_cast<std::int64_t>(i));
        PutCounts(c, line);
        line += c.zeroFilled ? ",1" : ",0";
        if (verdict.moved) {
            PutCounts(verdict.moved->sectors[i], line);
        }
        line += '\n';
        out << line;
    }
}

}  // namespace report

// Pattern splitting and expansion into the seam that records jobs: each line
// of the input is one pattern, all of them expanded into one worker table;
// a line "/cidr" makes later lines with a "/" blocks, and "/exclude:VALUE"
// lines leave addresses out of the lines after them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_options.h"
#include "app/dispatch.h"
#include "fake_platform.h"
#include "fuzz_support.h"
#include "patterns/pattern_expansion.h"

using namespace fanecho;
using namespace fanecho::fuzz;

namespace {

// Enough for a table that fills and then refuses, without runs of millions.
constexpr std::uint64_t kMaxAddresses = kMaxWorkers + 1000;
constexpr std::size_t kMaxPatterns = 64;

std::string dotted(int a, int b, int c, int d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
         std::to_string(d);
}

// A label must read back as the address it was made from.
void checkLabelReparses(const ProbeJob& job) {
  std::array<std::string, 4> fields;
  FUZZ_CHECK(splitPattern(job.label, fields));
  std::uint16_t octets[4];
  for (int i = 0; i < 4; ++i) {
    const std::string& field = fields[static_cast<std::size_t>(i)];
    FUZZ_CHECK(!field.empty() && field.size() <= 3);
    for (char c : field) FUZZ_CHECK(isDigit(c));
    FUZZ_CHECK(field.size() == 1 || field[0] != '0');
    octets[i] = static_cast<std::uint16_t>(std::stoi(field));
    FUZZ_CHECK(octets[i] <= 255);
  }
  FUZZ_CHECK(job.address.family == 4 && packAddress(octets) == job.address.packed());
}

// A line of the input: a pattern, or a block after /cidr, or an argument.
enum class LineKind { pattern, block, cidr, exclusion };

struct Line {
  LineKind kind = LineKind::pattern;
  std::string_view text;
  bool legal = true;
  ExclusionModel exclusion;  // an exclusion's
  std::uint32_t first = 0;   // a block's targets
  std::uint32_t last = 0;
};

bool startsWithLowered(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<Line> lines;
  for (std::size_t start = 0; start <= input.size() && lines.size() <= kMaxPatterns;) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    Line line;
    line.text = input.substr(start, end - start);
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.size() > kMaxPatterns) return -1;

  // What each line is, and how many addresses the run will go through.
  std::uint64_t total = 0;
  std::uint64_t exclusionRanges = 0;
  bool cidr = false;
  for (Line& line : lines) {
    if (startsWithLowered(line.text, "/cidr")) {
      line.kind = LineKind::cidr;
      cidr = true;
    } else if (startsWithLowered(line.text, "/exclude:")) {
      line.kind = LineKind::exclusion;
      const std::string_view value = line.text.substr(9);
      // IPv6 values are the control target's to check.
      if (value.substr(0, value.find('\0')).find(':') != std::string_view::npos) return -1;
      line.legal = exclusionModel(value, line.exclusion);
      if (line.legal) exclusionRanges += line.exclusion.ranges;
    } else if (cidr &&
               line.text.substr(0, line.text.find('\0')).find('/') != std::string_view::npos) {
      line.kind = LineKind::block;
      int prefix = 0;
      line.legal = blockModel(line.text, line.first, line.last, prefix);
      if (line.legal && prefix <= 30) {
        ++line.first;
        --line.last;
      }
      if (line.legal) total += std::uint64_t{line.last} - line.first + 1;
    } else {
      total += patternSize(line.text);
    }
  }
  // Below the most an exclusion set takes, which would make legal values
  // refused; and few enough addresses to go through one by one.
  if (total > kMaxAddresses || exclusionRanges > (std::uint64_t{1} << 20)) return -1;

  testing::FakePlatform fake;
  fake.threadMode = testing::ThreadMode::record;
  auto table = std::make_unique<WorkerTable>();
  std::vector<const ExclusionModel*> excluded;
  auto isExcluded = [&excluded](std::uint32_t address) {
    for (const ExclusionModel* model : excluded) {
      if (model->excludes(address)) return true;
    }
    return false;
  };

  std::size_t job = 0;
  for (const Line& line : lines) {
    const std::size_t jobsBefore = fake.started.size();
    fake.output.clear();
    if (line.kind == LineKind::cidr || line.kind == LineKind::exclusion) {
      applyControlArgument(line.text, *table);
      FUZZ_CHECK(fake.started.size() == jobsBefore);
      FUZZ_CHECK(fake.output == (line.legal ? "" : "illegal IP address\n"));
      if (line.kind == LineKind::exclusion && line.legal) excluded.push_back(&line.exclusion);
      continue;
    }
    launchPatternProbes(line.text, *table);
    const std::vector<std::string> output = testing::linesOf(fake.output);
    FUZZ_CHECK(fake.output.empty() || fake.output.back() == '\n');
    if (!line.legal) {
      FUZZ_CHECK(fake.started.size() == jobsBefore);
      FUZZ_CHECK(fake.output == "illegal IP address\n");
      continue;
    }
    auto checkJob = [&fake, &job](const std::string& label) {
      FUZZ_CHECK(job < fake.started.size());
      const ProbeJob& made = fake.started[job].job;
      FUZZ_CHECK(made.label == label);
      FUZZ_CHECK(made.kind == TargetKind::address);
      FUZZ_CHECK(fake.started[job].priority == ThreadPriority::normal);
      checkLabelReparses(made);
      ++job;
    };

    if (line.kind == LineKind::block) {
      // Ascending, excluded ones left out; once the table is full, one
      // line for the first refused and how many follow it.
      std::size_t refusals = 0;
      for (std::uint64_t address = line.first; address <= line.last; ++address) {
        if (isExcluded(static_cast<std::uint32_t>(address))) continue;
        const std::string label = dottedText(static_cast<std::uint32_t>(address));
        if (job < kMaxWorkers) {
          checkJob(label);
          continue;
        }
        std::uint64_t more = 0;
        for (std::uint64_t next = address + 1; next <= line.last; ++next) {
          if (!isExcluded(static_cast<std::uint32_t>(next))) ++more;
        }
        FUZZ_CHECK(output.size() == 1);
        FUZZ_CHECK(output[0] == "too many addresses; ignoring " + label +
                                    (more == 0 ? "" : " and " + std::to_string(more) + " more"));
        refusals = 1;
        break;
      }
      FUZZ_CHECK(job == fake.started.size());
      FUZZ_CHECK(refusals == output.size());
      continue;
    }

    const std::vector<std::string> words = patternWords(line.text);
    std::array<std::string, 4> fields;
    const bool four = splitPattern(line.text, fields);
    FUZZ_CHECK(four == (words.size() == 4));
    for (std::size_t i = 0; four && i < 4; ++i) FUZZ_CHECK(fields[i] == words[i]);
    if (!four) {
      FUZZ_CHECK(fake.started.size() == jobsBefore);
      FUZZ_CHECK(fake.output == "illegal IP address\n");
      continue;
    }

    // Every address in order, the fourth field fastest, excluded ones left
    // out: jobs while the table has room, then one refusal line each.
    std::vector<std::vector<int>> octets;
    for (const std::string& word : words) octets.push_back(fieldOctets(word));
    std::size_t refusal = 0;
    for (int a : octets[0]) {
      for (int b : octets[1]) {
        for (int c : octets[2]) {
          for (int d : octets[3]) {
            const auto address = static_cast<std::uint32_t>(a) << 24 |
                                 static_cast<std::uint32_t>(b) << 16 |
                                 static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
            if (isExcluded(address)) continue;
            const std::string label = dotted(a, b, c, d);
            if (job < kMaxWorkers) {
              checkJob(label);
            } else {
              FUZZ_CHECK(refusal < output.size());
              FUZZ_CHECK(output[refusal] == "too many addresses; ignoring " + label);
              ++refusal;
            }
          }
        }
      }
    }
    FUZZ_CHECK(job == fake.started.size());
    FUZZ_CHECK(refusal == output.size());
  }
  FUZZ_CHECK(fake.started.size() <= kMaxWorkers);
  FUZZ_CHECK(table->workerCount() == fake.started.size());
  return 0;
}

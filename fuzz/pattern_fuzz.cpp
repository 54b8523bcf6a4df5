// Pattern splitting and expansion into the seam that records jobs: each line
// of the input is one pattern, all of them expanded into one worker table.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> patterns;
  for (std::size_t start = 0; start <= input.size() && patterns.size() <= kMaxPatterns;) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    patterns.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  if (patterns.size() > kMaxPatterns) return -1;
  std::uint64_t total = 0;
  for (std::string_view pattern : patterns) total += patternSize(pattern);
  if (total > kMaxAddresses) return -1;

  testing::FakePlatform fake;
  fake.threadMode = testing::ThreadMode::record;
  auto table = std::make_unique<WorkerTable>();

  for (std::string_view pattern : patterns) {
    const std::vector<std::string> words = patternWords(pattern);
    std::array<std::string, 4> fields;
    const bool four = splitPattern(pattern, fields);
    FUZZ_CHECK(four == (words.size() == 4));
    for (std::size_t i = 0; four && i < 4; ++i) FUZZ_CHECK(fields[i] == words[i]);

    const std::size_t jobsBefore = fake.started.size();
    fake.output.clear();
    launchPatternProbes(pattern, *table);
    const std::vector<std::string> lines = testing::linesOf(fake.output);
    FUZZ_CHECK(fake.output.empty() || fake.output.back() == '\n');
    if (!four) {
      FUZZ_CHECK(fake.started.size() == jobsBefore);
      FUZZ_CHECK(fake.output == "illegal IP address\n");
      continue;
    }

    // Every address in order, the fourth field fastest: jobs while the
    // table has room, then one refusal line each.
    std::vector<std::vector<int>> octets;
    for (const std::string& word : words) octets.push_back(fieldOctets(word));
    std::size_t job = jobsBefore;
    std::size_t refusal = 0;
    for (int a : octets[0]) {
      for (int b : octets[1]) {
        for (int c : octets[2]) {
          for (int d : octets[3]) {
            const std::string label = dotted(a, b, c, d);
            if (job < kMaxWorkers) {
              FUZZ_CHECK(job < fake.started.size());
              const ProbeJob& made = fake.started[job].job;
              FUZZ_CHECK(made.label == label);
              FUZZ_CHECK(made.kind == TargetKind::address);
              FUZZ_CHECK(fake.started[job].priority == ThreadPriority::normal);
              checkLabelReparses(made);
              ++job;
            } else {
              FUZZ_CHECK(refusal < lines.size());
              FUZZ_CHECK(lines[refusal] == "too many addresses; ignoring " + label);
              ++refusal;
            }
          }
        }
      }
    }
    FUZZ_CHECK(job == fake.started.size());
    FUZZ_CHECK(refusal == lines.size());
  }
  FUZZ_CHECK(fake.started.size() <= kMaxWorkers);
  FUZZ_CHECK(table->workerCount() == fake.started.size());
  return 0;
}

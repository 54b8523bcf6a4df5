// OctetSet::parse over any field text, against the model of the field
// grammar, and the iteration protocol over whatever it parsed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "patterns/octet_set.h"

using fanecho::OctetSet;
using namespace fanecho::fuzz;

namespace {

void checkIteration(OctetSet& set, const std::vector<int>& expected) {
  // Twice: first() restarts an iteration that has run to its end.
  for (int round = 0; round < 2; ++round) {
    std::vector<int> yielded;
    int v = set.first();
    FUZZ_CHECK(!set.atEnd());
    while (!set.atEnd()) {
      FUZZ_CHECK(v >= 0 && v <= 255);
      FUZZ_CHECK(yielded.empty() || yielded.back() < v);
      yielded.push_back(v);
      FUZZ_CHECK(yielded.size() <= 256);
      v = set.next();
    }
    FUZZ_CHECK(v == OctetSet::kNoMember);
    FUZZ_CHECK(yielded == expected);
    // Past the end it stays at the end.
    FUZZ_CHECK(set.next() == OctetSet::kNoMember);
    FUZZ_CHECK(set.atEnd());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // parse takes a C string: the field ends at the first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);

  OctetSet set;
  set.parse(text.c_str());
  checkIteration(set, fieldOctets(text));

  // readNumber takes a whole digit run, however long, and stops after it.
  const char* start = text.c_str();
  while (*start != '\0' && !isDigit(*start)) ++start;
  if (*start != '\0') {
    const char* position = start;
    const std::int32_t number = OctetSet::readNumber(position);
    FUZZ_CHECK(position > start && !isDigit(*position));
    for (const char* p = start; p < position; ++p) FUZZ_CHECK(isDigit(*p));
    FUZZ_CHECK(number >= 0);
    const std::uint32_t octet = fanecho::clampOctet(static_cast<std::uint32_t>(number));
    FUZZ_CHECK(static_cast<int>(octet) ==
               octetValue(std::string_view(start, static_cast<std::size_t>(position - start))));
  }
  return 0;
}

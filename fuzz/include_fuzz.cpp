// The include-file reader over files of any bytes: NULs, lines of any length,
// and "/include:f" lines that include the file itself. The input is written
// to the file f in a directory of its own, which is the current directory
// while the file is read, and the result is checked against a model of the
// reader: the targets it dispatches, in order, and its messages.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_options.h"
#include "app/include_files.h"
#include "app/worker_table.h"
#include "fake_platform.h"
#include "fuzz_support.h"

using namespace fanecho;
using namespace fanecho::fuzz;

namespace {

// Bounds on one run, so that a file including itself many times over stays
// a matter of milliseconds: files opened, bytes read and pieces handled over
// all opens, and targets named.
constexpr std::uint64_t kMaxOpens = 256;
constexpr std::uint64_t kMaxBytesRead = 4u << 20;
constexpr std::uint64_t kMaxPieces = 200000;
constexpr std::uint64_t kMaxTargets = kMaxWorkers + 10000;
constexpr std::uint64_t kMaxExclusionRanges = std::uint64_t{1} << 20;

std::string directory;  // where f lives
int startingDirectory = -1;

void removeDirectory() {
  if (directory.empty()) return;
  unlink((directory + "/f").c_str());
  rmdir(directory.c_str());
}

// The lowest free descriptor: a file left open moves it up.
int lowestFreeDescriptor() {
  const int fd = dup(0);
  if (fd >= 0) close(fd);
  return fd;
}

enum class PieceKind { target, selfInclude, missingInclude, cidr, exclusion, other };

struct Piece {
  PieceKind kind = PieceKind::other;
  std::string text;        // as dispatched
  std::uint64_t size = 0;  // addresses a target names at most, as a pattern or a block
  bool legal = true;       // an exclusion's value
  ExclusionModel exclusion;
};

// The targets of a block piece, when it is one: a.b.c.d/N, read after /cidr.
bool blockTargets(std::string_view text, std::uint32_t& first, std::uint32_t& last) {
  int prefix = 0;
  if (!blockModel(text, first, last, prefix)) return false;
  if (prefix <= 30) {
    ++first;
    --last;
  }
  return true;
}

// The file as the reader sees it: pieces of at most 99 characters, each
// ending at a line feed or after 99, cut at a NUL and trimmed of blanks.
// False when a piece includes a file that could feed the run from outside.
bool readPieces(std::string_view file, std::vector<Piece>& pieces) {
  for (std::size_t start = 0; start < file.size();) {
    std::size_t end = start;
    while (end < file.size() && end - start < kIncludeLineLength) {
      if (file[end++] == '\n') break;
    }
    std::string_view text = file.substr(start, end - start);
    start = end;
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    if (text.empty() || text[0] == '#') continue;

    Piece piece;
    piece.kind = PieceKind::other;
    piece.text = std::string(text);
    if (text[0] == '/' || text[0] == '-') {
      std::string keyword(text.substr(1, 8));
      for (char& c : keyword) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      // The model routes targets as IPv4 runs do: inputs that change that are left out.
      if (keyword.rfind("ip:", 0) == 0) return false;
      // Under /queue a full table of recorded jobs, which never end, would wait for good.
      if (keyword.rfind("queue", 0) == 0) return false;
      if (keyword.rfind("cidr", 0) == 0) piece.kind = PieceKind::cidr;
      if (keyword == "exclude:") {
        piece.kind = PieceKind::exclusion;
        const std::string_view value = text.substr(9);
        // IPv6 values are the control target's to check.
        if (value.find(':') != std::string_view::npos) return false;
        piece.legal = exclusionModel(value, piece.exclusion);
      }
      if (keyword == "include:") {
        const std::string name(text.substr(9));
        struct stat status;
        if (name == "f") {
          piece.kind = PieceKind::selfInclude;
        } else if (name.empty() || stat(name.c_str(), &status) != 0) {
          piece.kind = PieceKind::missingInclude;
        } else if (S_ISDIR(status.st_mode)) {
          piece.kind = PieceKind::missingInclude;  // a directory is not found either
        } else {
          return false;
        }
        piece.text = name;
      }
    } else {
      piece.kind = PieceKind::target;
      piece.size = isDigit(text[0]) ? patternSize(text) : 1;
      std::uint32_t first = 0;
      std::uint32_t last = 0;
      if (isDigit(text[0]) && blockTargets(text, first, last)) {
        piece.size = std::max<std::uint64_t>(piece.size, std::uint64_t{last} - first + 1);
      }
    }
    pieces.push_back(std::move(piece));
  }
  return true;
}

struct Expected {
  std::vector<std::string> targets;   // labels, in the order dispatched
  std::vector<std::size_t> blockOf;   // for each: which block it came from, 0 for none
  std::vector<std::string> includes;  // the include messages, in order
  // The settings the pieces read so far have made.
  bool cidr = false;
  std::vector<const ExclusionModel*> excluded;
  std::size_t blocks = 0;

  bool isExcluded(std::uint32_t address) const {
    for (const ExclusionModel* model : excluded) {
      if (model->excludes(address)) return true;
    }
    return false;
  }
  void add(std::uint32_t address, std::size_t block) {
    if (isExcluded(address)) return;
    targets.push_back(dottedText(address));
    blockOf.push_back(block);
  }
};

// Depth first, as the reader goes: a self-include reads the whole file again
// before the next piece. With kMaxIncludeDepth files open any include is
// refused, before its name is looked at.
void readAt(std::uint32_t depth, const std::vector<Piece>& pieces, Expected& expected) {
  for (const Piece& piece : pieces) {
    const bool isInclude =
        piece.kind == PieceKind::selfInclude || piece.kind == PieceKind::missingInclude;
    if (isInclude && depth >= kMaxIncludeDepth) {
      expected.includes.push_back("include file " + shown(piece.text) +
                                  " nested too deep; ignoring it");
      continue;
    }
    switch (piece.kind) {
      case PieceKind::selfInclude:
        readAt(depth + 1, pieces, expected);
        break;
      case PieceKind::missingInclude:
        expected.includes.push_back("file " + shown(piece.text) + " not found");
        break;
      case PieceKind::cidr:
        expected.cidr = true;
        break;
      case PieceKind::exclusion:
        if (piece.legal) expected.excluded.push_back(&piece.exclusion);
        break;
      case PieceKind::target: {
        const bool slash = piece.text.find('/') != std::string::npos;
        if (!isDigit(piece.text[0])) {
          // Under /cidr a name with a "/" is illegal.
          if (!(expected.cidr && slash)) {
            expected.targets.push_back(piece.text);
            expected.blockOf.push_back(0);
          }
          break;
        }
        if (expected.cidr && slash) {
          std::uint32_t first = 0;
          std::uint32_t last = 0;
          if (!blockTargets(piece.text, first, last)) break;  // "illegal IP address"
          ++expected.blocks;
          for (std::uint64_t address = first; address <= last; ++address) {
            expected.add(static_cast<std::uint32_t>(address), expected.blocks);
          }
          break;
        }
        if (patternSize(piece.text) == 0) break;  // "illegal IP address"
        const std::vector<std::string> words = patternWords(piece.text);
        for (int a : fieldOctets(words[0]))
          for (int b : fieldOctets(words[1]))
            for (int c : fieldOctets(words[2]))
              for (int d : fieldOctets(words[3])) {
                expected.add(static_cast<std::uint32_t>(a) << 24 |
                                 static_cast<std::uint32_t>(b) << 16 |
                                 static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d),
                             0);
              }
        break;
      }
      case PieceKind::other:
        break;
    }
  }
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/fanecho-include-fuzz.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  directory = pattern;
  startingDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FUZZ_CHECK(startingDirectory >= 0);
  std::atexit(removeDirectory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(chdir(directory.c_str()) == 0);
  struct Back {
    ~Back() { FUZZ_CHECK(fchdir(startingDirectory) == 0); }
  } back;

  std::vector<Piece> pieces;
  if (!readPieces(file, pieces)) return -1;

  // Start as deep as needed to keep the run small: k self-includes in a
  // file read at depth d open it 1 + k + ... + k^(10-d) times.
  std::uint64_t selfIncludes = 0;
  std::uint64_t targetsPerOpen = 0;
  std::uint64_t exclusionRanges = 0;
  for (const Piece& piece : pieces) {
    if (piece.kind == PieceKind::selfInclude) ++selfIncludes;
    if (piece.kind == PieceKind::target) targetsPerOpen += piece.size;
    if (piece.kind == PieceKind::exclusion && piece.legal)
      exclusionRanges += piece.exclusion.ranges;
  }
  // Below the most an exclusion set takes, which would make legal values refused.
  if (exclusionRanges > (std::uint64_t{1} << 20)) return -1;
  std::uint32_t startDepth = 0;
  for (;; ++startDepth) {
    if (startDepth == kMaxIncludeDepth) return -1;
    std::uint64_t opens = 0;
    std::uint64_t level = 1;
    for (std::uint32_t depth = startDepth; depth < kMaxIncludeDepth && opens <= kMaxOpens;
         ++depth) {
      opens += level;
      level *= selfIncludes;
    }
    if (opens <= kMaxOpens && opens * (size + 1) <= kMaxBytesRead &&
        opens * (pieces.size() + 1) <= kMaxPieces && opens * targetsPerOpen <= kMaxTargets &&
        opens * exclusionRanges <= kMaxExclusionRanges) {
      break;
    }
  }
  Expected expected;
  readAt(startDepth + 1, pieces, expected);

  {
    std::FILE* out = std::fopen("f", "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, out) == size);
    FUZZ_CHECK(std::fclose(out) == 0);
  }

  testing::FakePlatform fake;
  fake.threadMode = testing::ThreadMode::record;
  auto table = std::make_unique<WorkerTable>();
  const int freeBefore = lowestFreeDescriptor();
  settings.includeDepth = startDepth;
  processIncludeFile("f", *table);
  FUZZ_CHECK(settings.includeDepth == startDepth);
  settings.includeDepth = 0;
  FUZZ_CHECK(lowestFreeDescriptor() == freeBefore);

  // The targets: started while the table has room, refused after.
  const std::size_t started = std::min<std::size_t>(expected.targets.size(), kMaxWorkers);
  FUZZ_CHECK(fake.started.size() == started);
  FUZZ_CHECK(table->workerCount() == started);
  for (std::size_t i = 0; i < started; ++i) {
    const ProbeJob& job = fake.started[i].job;
    FUZZ_CHECK(job.label == expected.targets[i]);
    FUZZ_CHECK((job.kind == TargetKind::address) == isDigit(job.label[0]));
  }

  FUZZ_CHECK(fake.output.empty() || fake.output.back() == '\n');
  std::size_t refused = started;
  std::size_t include = 0;
  for (const std::string& line : testing::linesOf(fake.output)) {
    if (startsWith(line, "too many addresses; ignoring ")) {
      FUZZ_CHECK(refused < expected.targets.size());
      // A block's line stands for the rest of that block.
      const std::size_t block = expected.blockOf[refused];
      std::size_t after = refused + 1;
      while (block != 0 && after < expected.targets.size() && expected.blockOf[after] == block) {
        ++after;
      }
      const std::size_t more = after - refused - 1;
      FUZZ_CHECK(line.substr(29) ==
                 expected.targets[refused] +
                     (more == 0 ? "" : " and " + std::to_string(more) + " more"));
      refused = after;
    } else if (startsWith(line, "include file ") || startsWith(line, "file ")) {
      FUZZ_CHECK(include < expected.includes.size());
      FUZZ_CHECK(line == expected.includes[include++]);
    } else {
      // Messages of the arguments themselves, each a line of its own.
      bool known = line == "illegal IP address" || line == "expected all, ok or error" ||
                   startsWith(line, "invalid control argument ");
      for (std::string_view help : helpLines) known = known || line == help;
      if (!known) std::fprintf(stderr, "unexpected line: %s\n", line.c_str());
      FUZZ_CHECK(known);
    }
  }
  FUZZ_CHECK(refused == expected.targets.size());
  FUZZ_CHECK(include == expected.includes.size());
  return 0;
}

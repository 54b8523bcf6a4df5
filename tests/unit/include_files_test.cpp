#include "app/include_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fake_platform.h"

namespace fanecho {
namespace {

using testing::FakePlatform;
using testing::linesOf;
using testing::ThreadMode;

class IncludeFiles : public ::testing::Test {
 protected:
  IncludeFiles() {
    fake.threadMode = ThreadMode::record;
    directory =
        std::filesystem::temp_directory_path() /
        ("fanecho-include-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
  }
  ~IncludeFiles() override { std::filesystem::remove_all(directory); }

  std::string write(const std::string& name, const std::string& content) {
    const std::string path = (directory / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // The host-name targets dispatched so far, in order.
  std::vector<std::string> targets() const {
    std::vector<std::string> labels;
    for (const auto& s : fake.started) labels.push_back(s.job.label);
    return labels;
  }

  FakePlatform fake;
  std::filesystem::path directory;
  std::unique_ptr<WorkerTable> table = std::make_unique<WorkerTable>();
};

TEST_F(IncludeFiles, LinesAreTrimmedAndCommentsSkipped) {
  const std::string path = write("hosts.txt",
                                 "alpha\n"
                                 "   \t beta \t \n"
                                 "\n"
                                 "# a comment\n"
                                 "   # an indented comment\n"
                                 "gamma # not a remark\n"
                                 "\v\fdelta\r\n"
                                 "last-without-newline");
  processIncludeFile(path, *table);
  EXPECT_EQ(targets(), (std::vector<std::string>{"alpha", "beta", "gamma # not a remark", "delta",
                                                 "last-without-newline"}));
  EXPECT_EQ(fake.output, "");
  EXPECT_EQ(settings.includeDepth, 0u);
}

TEST_F(IncludeFiles, EmptyAndCommentOnlyFilesDispatchNothing) {
  processIncludeFile(write("empty", ""), *table);
  processIncludeFile(write("comments", "# one\n\n   \n#two"), *table);
  EXPECT_TRUE(targets().empty());
  EXPECT_EQ(fake.output, "");
}

TEST_F(IncludeFiles, CrLfFilesGiveTheSameArguments) {
  processIncludeFile(write("lf", "alpha\n/report:all\nbeta\n"), *table);
  const auto lf = targets();
  fake.started.clear();
  processIncludeFile(write("crlf", "alpha\r\n/report:all\r\nbeta\r\n"), *table);
  EXPECT_EQ(targets(), lf);
  EXPECT_EQ(settings.reportSuccesses.load(), 1u);
}

TEST_F(IncludeFiles, LongLinesAreReadIn99CharacterPieces) {
  const std::string l99(99, 'a'), l100(100, 'b'), l250(250, 'c');
  processIncludeFile(write("long", l99 + "\n" + l100 + "\n" + l250 + "\n"), *table);
  EXPECT_EQ(targets(),
            (std::vector<std::string>{l99, std::string(99, 'b'), "b", std::string(99, 'c'),
                                      std::string(99, 'c'), std::string(52, 'c')}));
}

TEST_F(IncludeFiles, ALongCommentGoesOnAsAnArgument) {
  processIncludeFile(write("comment", "#" + std::string(99, 'x') + "\n"), *table);
  EXPECT_EQ(targets(), (std::vector<std::string>{"x"}));
}

TEST_F(IncludeFiles, ANulEndsItsPiece) {
  processIncludeFile(write("nul", std::string("alpha\0beta\ngamma\n", 17)), *table);
  EXPECT_EQ(targets(), (std::vector<std::string>{"alpha", "gamma"}));
}

TEST_F(IncludeFiles, ALineIsOneArgumentWhole) {
  processIncludeFile(write("one", "/report:all /verbose\n"), *table);
  EXPECT_EQ(fake.output, "expected all, ok or error\n");
  EXPECT_EQ(settings.verbose.load(), 0u);
}

TEST_F(IncludeFiles, MissingFilesAndEmptyNames) {
  processIncludeFile((directory / "absent").string(), *table);
  processIncludeFile("", *table);
  processIncludeFile(directory.string(), *table);  // a directory is no file
  EXPECT_EQ(
      linesOf(fake.output),
      (std::vector<std::string>{"file " + (directory / "absent").string() + " not found",
                                "file  not found", "file " + directory.string() + " not found"}));
  EXPECT_EQ(settings.includeDepth, 0u);
  EXPECT_FALSE(std::filesystem::exists(directory / "absent"));
}

TEST_F(IncludeFiles, SelfInclusionStopsAtElevenOpenFiles) {
  const std::string path = (directory / "self").string();
  write("self", "/include:" + path + "\nafter\n");
  processIncludeFile(path, *table);
  EXPECT_EQ(fake.output, "include file " + path + " nested too deep; ignoring it\n");
  EXPECT_EQ(targets(), std::vector<std::string>(11, "after"));
  EXPECT_EQ(settings.includeDepth, 0u);
}

TEST_F(IncludeFiles, SettingsFromAFileOutliveIt) {
  const std::string inner = write("inner", "/times:4\ninner-host\n");
  processIncludeFile(write("outer", "outer-host\n/include:" + inner + "\nlast\n"), *table);
  EXPECT_EQ(targets(), (std::vector<std::string>{"outer-host", "inner-host", "last"}));
  EXPECT_EQ(settings.echoCount.load(), 4u);
}

}  // namespace
}  // namespace fanecho

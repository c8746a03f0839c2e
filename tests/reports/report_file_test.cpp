// Report files: written beside their final name, renamed into place when closed, never written
// through a link, and gone without a trace when dropped unclosed.
#include "reports/report_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/errors.h"
#include "common/test_dirs.h"

namespace kestrel::reports {
namespace {

namespace fs = std::filesystem;

size_t entries(const fs::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(ReportFile, AppearsUnderItsNameOnlyWhenClosed) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/TEST_7a.OUT", "earlier\n");
  ReportFile f(dir / "a/TEST_7a.OUT", "a/TEST_7a.OUT");
  f.stream() << "line 1\n";
  f.stream().flush();
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7a.OUT"), "earlier\n");  // the earlier report still
  EXPECT_EQ(testing::slurp(f.temporary_path()), "line 1\n");
  EXPECT_EQ(f.temporary_path().parent_path(), dir / "a");
  f.stream() << std::string(200000, 'x') << "\n";  // more than the buffer holds
  f.close();
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7a.OUT"), "line 1\n" + std::string(200000, 'x') + "\n");
  EXPECT_EQ(entries(dir / "a"), 1u);
  f.close();  // a second close does nothing
}

TEST(ReportFile, PlantedLinksAreNeverFollowed) {
  testing::ScratchDir dir;
  testing::ScratchDir elsewhere;
  testing::spit(elsewhere / "target", "precious\n");
  testing::spit(elsewhere / "target2", "precious too\n");
  // A link under the report's name and one under the name its temporary file would take first.
  fs::create_symlink(elsewhere / "target", dir / "a/TEST_7b.OUT");
  fs::create_symlink(elsewhere / "target2",
                     dir / ("a/.TEST_7b.OUT.tmp-" + std::to_string(::getpid()) + "-0"));
  ReportFile f(dir / "a/TEST_7b.OUT", "a/TEST_7b.OUT");
  EXPECT_NE(f.temporary_path().filename().string(),
            ".TEST_7b.OUT.tmp-" + std::to_string(::getpid()) + "-0");
  f.stream() << "summary\n";
  f.close();
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "a/TEST_7b.OUT")));
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7b.OUT"), "summary\n");
  EXPECT_EQ(testing::slurp(elsewhere / "target"), "precious\n");
  EXPECT_EQ(testing::slurp(elsewhere / "target2"), "precious too\n");
}

TEST(ReportFile, DroppedUnclosedLeavesNoTrace) {
  testing::ScratchDir dir;
  {
    ReportFile f(dir / "a/CORR_MAT_given_TIME.TXT", "a/CORR_MAT_given_TIME.TXT");
    f.stream() << "half a matrix\n";
  }
  EXPECT_EQ(entries(dir / "a"), 0u);
}

TEST(ReportFile, ErrorsNameTheFileAndTheSystemsReason) {
  testing::ScratchDir dir;
  fs::create_directories(dir / "a/TEST_7a.OUT");
  try {
    ReportFile f(dir / "a/TEST_7a.OUT", "a/TEST_7a.OUT");
    FAIL() << "a directory was taken for a report";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(), "cannot create the report file a/TEST_7a.OUT: Is a directory");
  }
  try {
    ReportFile f(dir / "b/TEST_7a.OUT", "b/TEST_7a.OUT");
    FAIL() << "a report was created in a missing directory";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(),
                 "cannot create the report file b/TEST_7a.OUT: No such file or directory");
  }
  // A directory put in the report's place while it was written: the rename fails, the message
  // says so, and the temporary file is removed.
  ReportFile late(dir / "a/fort.60", "fort.60");
  late.stream() << "Cov on TIF\n";
  fs::create_directories(dir / "a/fort.60/x");
  try {
    late.close();
    FAIL() << "the report was renamed onto a directory";
  } catch (const RunError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("cannot put the report file fort.60 in place: ", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(entries(dir / "a"), 2u);  // the two directories only
}

}  // namespace
}  // namespace kestrel::reports

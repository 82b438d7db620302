#include "cli/cli.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kelvane::cli {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunWith(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = Run(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(Cli, HelpGoesToStdoutAndSucceeds) {
  for (const char* flag : {"--help", "-h"}) {
    const Result r = RunWith({flag});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("Usage: kelvane COMMAND"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
  }
}

TEST(Cli, VersionNamesTheTool) {
  const Result r = RunWith({"--version"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out.rfind("kelvane ", 0), 0u);
  EXPECT_EQ(r.out.back(), '\n');
}

TEST(Cli, MissingOrUnknownCommandIsAUsageError) {
  const Result none = RunWith({});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_TRUE(none.out.empty());
  EXPECT_NE(none.err.find("Usage:"), std::string::npos);

  const Result unknown = RunWith({"frobnicate", "x.d64"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err, "kelvane: unknown command 'frobnicate' (see 'kelvane --help')\n");
}

}  // namespace
}  // namespace kelvane::cli

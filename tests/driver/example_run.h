#pragma once
// Runs the kestrel program on a deck of the source tree (an example, or a test deck) in a fresh
// directory, with a fixed seed, and keeps what it wrote.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/browser_probe.h"

namespace kestrel::driver::testing {

struct ExampleRun {
  std::filesystem::path dir;
  int status = -1;
  std::string summary, main_report, json, html, stderr_text;
};

// deck: path below the source tree, e.g. "examples/calendar_times.txt".
inline ExampleRun run_example(const std::string& deck, int seed = 12345) {
  ExampleRun r;
  r.dir = fresh_dir("kestrel-example");
  std::filesystem::create_directories(r.dir / "a");
  std::filesystem::copy_file(std::filesystem::path(KESTREL_SOURCE_DIR) / deck,
                             r.dir / "a" / "input.txt");
  const std::string cmd = std::string(KESTREL_BINARY) + " -C " + r.dir.string() + " --seed " +
                          std::to_string(seed) + " >" + (r.dir / "console.txt").string() + " 2>" +
                          (r.dir / "stderr.txt").string();
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.summary = read_file(r.dir / "a" / "TEST_7b.OUT");
  r.main_report = read_file(r.dir / "a" / "TEST_7a.OUT");
  r.json = read_file(r.dir / "a" / "kestrel-results.json");
  r.html = read_file(r.dir / "a" / "kestrel-report.html");
  r.stderr_text = read_file(r.dir / "stderr.txt");
  return r;
}

}  // namespace kestrel::driver::testing

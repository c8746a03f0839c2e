#pragma once
// Scratch run directories and a way to run the kestrel program in them.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace kestrel::testing {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void spit(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

// A fresh directory under the system's temporary directory, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kestrel-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_ / "a");
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

 private:
  std::filesystem::path path_;
};

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs the kestrel program with `args`, capturing its output streams.
inline ProgramRun run_kestrel(const ScratchDir& dir, const std::string& args) {
  std::string cmd = std::string("'") + KESTREL_BINARY + "' " + args + " > '" +
                    (dir / "stdout.txt").string() + "' 2> '" + (dir / "stderr.txt").string() + "'";
  int rc = std::system(cmd.c_str());
  ProgramRun r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(dir / "stdout.txt");
  r.err = slurp(dir / "stderr.txt");
  return r;
}

}  // namespace kestrel::testing

#pragma once
// A report file written to a fresh temporary file beside its final name and renamed into place
// when it is closed. Nothing is ever written through the final name: a symbolic link planted
// there is replaced by the report and its target stays untouched, and a reader never sees half a
// report under the final name. A file that is dropped without being closed (a run that could
// not even open all its reports) takes its temporary file with it.
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

namespace kestrel::driver {

class ReportFile {
 public:
  // Creates the temporary file for `path`; `name` is how messages call the file (the path
  // relative to the run directory, "a/TEST_7a.OUT"). Throws RunError naming the file and the
  // system's reason when the file cannot be created, or when `path` is a directory.
  ReportFile(const std::filesystem::path& path, std::string name);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  std::ostream& stream();
  bool is_open() const;

  // Flushes what was written, closes the temporary file and renames it onto the final path.
  // Throws RunError naming the file and the system's reason when a write, the close or the
  // rename failed (the temporary file is then removed). Does nothing when already closed.
  void close();

  // The temporary file's path while the report is open (for tests).
  const std::filesystem::path& temporary_path() const { return temporary_; }

 private:
  class Buffer;
  std::filesystem::path final_, temporary_;
  std::string name_;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

}  // namespace kestrel::driver

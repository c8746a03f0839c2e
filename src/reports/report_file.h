#pragma once
// A report file written to a fresh temporary file beside its final name and renamed into place
// when it is closed. Nothing is ever written through the final name: a symbolic link planted
// there is replaced by the report and its target stays untouched, and a reader never sees half a
// report under the final name. A file that is dropped without being closed (a run that could
// not even open all its reports) takes its temporary file with it.
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>

namespace kestrel::reports {

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

  // The two halves of close(). finish() writes out and closes the temporary file, which stays
  // beside the final name; it throws RunError naming the file and the reason when a write or
  // the close failed (the temporary file is then removed). put_in_place() renames a finished
  // file onto its final name (RunError when the rename fails).
  void finish();
  void put_in_place();

  // Finishes every file of `files` (null entries are skipped) and, only when all were written,
  // puts them in place one after another, calling `before_rename` just before the first rename.
  // When one cannot be written, no final name is touched, every temporary file is removed, and
  // RunError names the file, its reason and that nothing was replaced.
  template <class Before>
  static void put_all_in_place(std::initializer_list<ReportFile*> files, Before before_rename);

  // For tests: the next finish() of the file called `name` fails with the error number `err`,
  // as a full disk would make it fail.
  static void fail_next_finish_of(const std::string& name, int err);

  // The temporary file's path while the report is open (for tests).
  const std::filesystem::path& temporary_path() const { return temporary_; }

  // Removes the temporary file without putting it in place.
  void discard();

 private:
  [[noreturn]] static void throw_not_replaced(const std::string& problem);
  class Buffer;
  std::filesystem::path final_, temporary_;
  std::string name_;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
  int slot_ = -1;      // place in the list of temporary files removed on a signal
  bool finished_ = false;
};

// Catchable ends of the process (SIGTERM, SIGINT, SIGHUP) remove the temporary files of every
// open report before the process ends with the signal's default action.
void remove_temporary_files_on_signals();

template <class Before>
void ReportFile::put_all_in_place(std::initializer_list<ReportFile*> files, Before before_rename) {
  for (ReportFile* f : files) {
    if (f == nullptr) continue;
    try {
      f->finish();
    } catch (const std::exception& e) {
      for (ReportFile* g : files)
        if (g != nullptr) g->discard();
      throw_not_replaced(e.what());
    }
  }
  before_rename();
  for (ReportFile* f : files)
    if (f != nullptr) f->put_in_place();
}

}  // namespace kestrel::reports

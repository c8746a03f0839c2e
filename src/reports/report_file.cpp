#include "reports/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <streambuf>
#include <system_error>

#include "common/errors.h"

namespace kestrel::reports {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& name, int err) {
  throw RunError(what + " " + name + ": " + std::strerror(err));
}

// The temporary files of the open reports, for the signal handler: fixed storage, read there
// with nothing but atomic loads and unlink.
constexpr int kSlots = 64;
constexpr std::size_t kPathMax = 4096;
struct Slot {
  std::atomic<int> live{0};  // 0 free, 1 being filled or emptied, 2 holds a path
  char path[kPathMax];
};
Slot slots[kSlots];

int take_slot(const std::filesystem::path& p) {
  const std::string& s = p.native();
  if (s.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (slots[i].live.compare_exchange_strong(expected, 1)) {
      std::memcpy(slots[i].path, s.c_str(), s.size() + 1);
      slots[i].live.store(2);
      return i;
    }
  }
  return -1;
}

void free_slot(int& i) {
  if (i < 0) return;
  slots[i].live.store(1);
  slots[i].path[0] = '\0';
  slots[i].live.store(0);
  i = -1;
}

extern "C" void remove_temporary_files(int sig) {
  for (Slot& s : slots)
    if (s.live.load() == 2) ::unlink(s.path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::mutex injected_mutex;
std::string injected_name;
int injected_error = 0;

}  // namespace

void remove_temporary_files_on_signals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction sa {};
    sa.sa_handler = remove_temporary_files;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGHUP);
    sa.sa_flags = 0;
    ::sigaction(sig, &sa, nullptr);
  }
}

void ReportFile::fail_next_finish_of(const std::string& name, int err) {
  std::lock_guard<std::mutex> lock(injected_mutex);
  injected_name = name;
  injected_error = err;
}

void ReportFile::throw_not_replaced(const std::string& problem) {
  throw RunError(problem + "; no report was replaced (the reports of the earlier run, if any, "
                           "are as they were)");
}

// An output buffer over a file descriptor that remembers the first write error.
class ReportFile::Buffer : public std::streambuf {
 public:
  explicit Buffer(int fd) : fd_(fd) { setp(data_, data_ + sizeof data_); }
  ~Buffer() override {
    if (fd_ >= 0) ::close(fd_);
  }

  // Writes out the buffer and closes the descriptor; returns 0 or the first error number.
  int finish() {
    drain();
    if (fd_ >= 0) {
      if (::close(fd_) != 0 && error_ == 0) error_ = errno;
      fd_ = -1;
    }
    return error_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (drain() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() == 0 ? 0 : -1; }

 private:
  int drain() {
    const char* p = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    setp(data_, data_ + sizeof data_);
    return error_;
  }

  int fd_;
  int error_ = 0;
  char data_[1 << 16];
};

ReportFile::ReportFile(const std::filesystem::path& path, std::string name)
    : final_(path), name_(std::move(name)) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    fail("cannot create the report file", name_, EISDIR);
  }
  // A new file of our own beside the report: O_EXCL refuses anything that already exists under
  // the name, a planted link included.
  const std::string stem = "." + path.filename().string() + ".tmp-" + std::to_string(::getpid());
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary_ = path.parent_path() / (stem + "-" + std::to_string(attempt));
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt >= 100)) {
      const int err = errno;
      temporary_.clear();
      fail("cannot create the report file", name_, err);
    }
  }
  slot_ = take_slot(temporary_);
  buffer_ = std::make_unique<Buffer>(fd);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
}

ReportFile::~ReportFile() { discard(); }

void ReportFile::discard() {
  if (!buffer_ && !finished_) return;
  stream_.reset();
  buffer_.reset();
  finished_ = false;
  std::error_code ec;
  std::filesystem::remove(temporary_, ec);
  free_slot(slot_);
}

std::ostream& ReportFile::stream() { return *stream_; }

bool ReportFile::is_open() const { return buffer_ != nullptr; }

void ReportFile::close() {
  finish();
  put_in_place();
}

void ReportFile::finish() {
  if (!buffer_) return;
  stream_->flush();
  int err = buffer_->finish();
  stream_.reset();
  buffer_.reset();
  {
    std::lock_guard<std::mutex> lock(injected_mutex);
    if (injected_error != 0 && injected_name == name_) {
      if (err == 0) err = injected_error;
      injected_error = 0;
      injected_name.clear();
    }
  }
  if (err != 0) {
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    free_slot(slot_);
    fail("cannot write the report file", name_, err);
  }
  finished_ = true;
}

void ReportFile::put_in_place() {
  if (!finished_) return;
  finished_ = false;
  if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
    const int rename_err = errno;
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    free_slot(slot_);
    throw RunError("cannot put the report file " + name_ + " in place: " +
                   std::strerror(rename_err));
  }
  free_slot(slot_);
}

}  // namespace kestrel::reports

#include "reports/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <streambuf>
#include <system_error>

#include "common/errors.h"

namespace kestrel::driver {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& name, int err) {
  throw RunError(what + " " + name + ": " + std::strerror(err));
}

}  // namespace

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
  buffer_ = std::make_unique<Buffer>(fd);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
}

ReportFile::~ReportFile() {
  if (!buffer_) return;
  stream_.reset();
  buffer_.reset();
  std::error_code ec;
  std::filesystem::remove(temporary_, ec);
}

std::ostream& ReportFile::stream() { return *stream_; }

bool ReportFile::is_open() const { return buffer_ != nullptr; }

void ReportFile::close() {
  if (!buffer_) return;
  stream_->flush();
  const int err = buffer_->finish();
  stream_.reset();
  buffer_.reset();
  if (err != 0) {
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    fail("cannot write the report file", name_, err);
  }
  if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
    const int rename_err = errno;
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    throw RunError("cannot put the report file " + name_ + " in place: " +
                   std::strerror(rename_err));
  }
}

}  // namespace kestrel::driver

#include "deck/deck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "deck/deck_reader.h"

namespace kestrel::deck {
namespace {

constexpr const char* kScalarNames[26] = {
    "NSIM", "ITIME", "CPL", "CPRSK", "CMPST", "MSSG", "HR1", "HR2", "RHO", "HR1TR", "HR2TR",
    "RHOTR", "TA", "TF", "SRVR1", "SRVR2", "SR", "CNSRD", "TYPE1", "RSV1", "POWER", "DF",
    "LOOK", "CRIVL", "ESF1", "ESF2"};

}  // namespace

std::string field_name(int field) {
  if (field >= 0 && field < 26) return kScalarNames[field];
  if (field >= TLOOK1 && field < FIELD_COUNT) return "TLOOK(" + std::to_string(field - TLOOK1 + 1) + ")";
  return "?";
}

std::string DeckProblem::message(std::string_view deck_name) const {
  std::string s(deck_name);
  if (line > 0) s += ':' + std::to_string(line);
  s += ": ";
  if (design > 0) {
    s += "design " + std::to_string(design) + ": ";
  } else if (!field.empty()) {
    s += "header: ";
  }
  if (!field.empty()) {
    s += field;
    if (!value.empty()) s += " = " + value;
    s += ": ";
  }
  return s + allowed;
}

std::string echoed(std::string_view written) {
  constexpr std::size_t kShown = 40;
  std::string s;
  for (char c : written.substr(0, kShown)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      s += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      s += buf;
    }
  }
  if (written.size() > kShown) s += "...";
  return s;
}

std::string shown_value(const DeckRecord& rec, int f) {
  const FieldSource& s = rec.source[static_cast<size_t>(f)];
  if (s.state == FieldSource::Read || s.state == FieldSource::Unreadable) return echoed(s.text);
  DeckValues d = rec.design.read;
  std::string v;
  if (const int* iv = int_field(d, f)) {
    v = std::to_string(*iv);
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", *real_field(d, f));
    v = buf;
  }
  return v + " (left unchanged by a null value or a slash)";
}

bool read_deck_file(const std::filesystem::path& path, std::string& text, DeckProblem& problem) {
  problem = DeckProblem{};
  auto fail = [&](std::string what, int err) {
    problem.allowed = "the input deck " + std::move(what) + ": " + std::strerror(err);
    return false;
  };
  // Not blocking: a named pipe without a writer must not hang the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return fail(err == ENOENT ? "is missing" : "cannot be read", err);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail("cannot be read", errno);
  if (S_ISDIR(st.st_mode)) return fail("is a directory, not a file", EISDIR);
  if (!S_ISREG(st.st_mode)) {
    problem.allowed = "the input deck is not a plain file (a device, pipe or socket)";
    return false;
  }
  text.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot be read", errno);
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

DeckValues stored_values(const DeckValues& read) {
  DeckValues s = read;
  s.HR1 = 1.0 / read.HR1;
  s.HR2 = 1.0 / read.HR2;
  s.HR1TR = 1.0 / read.HR1TR;
  s.HR2TR = 1.0 / read.HR2TR;
  return s;
}

Deck read_deck(std::string_view text) { return DeckReader(text).run(); }

}  // namespace kestrel::deck

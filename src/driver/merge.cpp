#include "driver/merge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "common/errors.h"
#include "driver/design_calculation.h"
#include "reports/html_report.h"
#include "reports/report_file.h"
#include "reports/report_lines.h"
#include "reports/results_json.h"
#include "reports/results_reader.h"

namespace kestrel::driver {
namespace {

constexpr const char* kResultsPath = "a/kestrel-results.json";

std::string quoted(const std::string& name) { return "'" + name + "'"; }

std::string seed_option(const reports::RunRecord& r) {
  return r.seed_given ? "--seed " + std::to_string(*r.seed_given) : "no --seed";
}

std::string accuracy_text(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

// The first difference of run-level fields between two shards, or empty.
std::string mismatch(const std::string& a_name, const reports::RunRecord& a,
                     const std::string& b_name, const reports::RunRecord& b) {
  const std::string both = quoted(a_name) + " and " + quoted(b_name);
  if (a.version != b.version)
    return both + " were written by different versions of kestrel (" + a.version + " and " +
           b.version + "); run every shard with one version";
  if (a.deck_sha256 != b.deck_sha256 || a.designs_in_deck != b.designs_in_deck)
    return both + " are runs of different decks (SHA-256 of the deck " + a.deck_sha256.substr(0, 16) +
           "... and " + b.deck_sha256.substr(0, 16) + "...); every shard must run the same deck";
  if (a.seed_given != b.seed_given)
    return both + " ran with different options (" + seed_option(a) + " and " + seed_option(b) +
           "); every shard must run with the same --seed";
  if (a.mvn_accuracy != b.mvn_accuracy)
    return both + " ran with different options (--mvn-accuracy " + accuracy_text(a.mvn_accuracy) +
           " and " + accuracy_text(b.mvn_accuracy) +
           "); every shard must run with the same --mvn-accuracy";
  if (a.exact != b.exact)
    return both + " ran with different options (" + (a.exact ? "--exact" : "no --exact") + " and " +
           (b.exact ? "--exact" : "no --exact") + "); every shard must run with the same model";
  if (a.under_nulls != b.under_nulls)
    return both + " ran with different options (" + (a.under_nulls ? "--under-nulls" : "no --under-nulls") +
           " and " + (b.under_nulls ? "--under-nulls" : "no --under-nulls") +
           "); every shard must run with the same --under-nulls";
  return {};
}

std::string list_numbers(const std::vector<int>& v) {
  std::string out;
  for (size_t i = 0; i < v.size() && i < 10; ++i) out += (i ? ", " : "") + std::to_string(v[i]);
  if (v.size() > 10) out += ", ... (" + std::to_string(v.size()) + " in all)";
  return out;
}

std::string_view row_label(const std::string& label) {
  if (label == "EP1") return reports::kLabelEp1;
  if (label == "EP2") return reports::kLabelEp2;
  return reports::kLabelCalendar;
}

// The whole of a shard's results file. Only a regular file is read: a FIFO or a device under the
// name would block the merge or feed it without end, so it is refused without being opened for
// long (the descriptor is opened without waiting and checked before any read).
std::string read_regular_file(const std::string& dir, const std::filesystem::path& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0)
    throw MergeRefused(quoted(dir) + ": no results file " + file.string() +
                       " (a shard directory holds the a/ of a kestrel run)");
  auto not_regular = [&] {
    return MergeRefused(quoted(dir) + ": " + file.string() +
                        " is not a regular file (a FIFO, a device or a directory); a shard's "
                        "results file is the one its run wrote");
  };
  if (!S_ISREG(st.st_mode)) throw not_regular();
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    throw MergeRefused(quoted(dir) + ": cannot read " + file.string() + ": " +
                       std::strerror(errno));
  std::string text;
  struct stat fst;
  if (::fstat(fd, &fst) != 0 || !S_ISREG(fst.st_mode)) {
    ::close(fd);
    throw not_regular();
  }
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw MergeRefused(quoted(dir) + ": cannot read " + file.string() + ": " +
                         std::strerror(err));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

}  // namespace

reports::RunRecord merge_runs(
    const std::vector<std::pair<std::string, reports::RunRecord>>& shards) {
  if (shards.empty()) throw MergeRefused("no shard to merge");
  const auto& [first_name, first] = shards.front();
  for (const auto& [name, run] : shards) {
    if (run.error)
      throw MergeRefused(quoted(name) + ": the run stopped (" + *run.error +
                         "); only runs that ended normally can be merged");
    if (const std::string m = mismatch(first_name, first, name, run); !m.empty())
      throw MergeRefused(m);
  }
  std::map<int, std::pair<const std::string*, const reports::DesignRecord*>> by_number;
  for (const auto& [name, run] : shards) {
    for (const reports::DesignRecord& d : run.designs) {
      const int n = d.design.number;
      if (n < 1 || n > first.designs_in_deck || !d.complete)
        throw MergeRefused(quoted(name) + ": design " + std::to_string(n) +
                           " is not a complete design of the deck's " +
                           std::to_string(first.designs_in_deck));
      auto [it, fresh] = by_number.emplace(n, std::make_pair(&name, &d));
      if (!fresh)
        throw MergeRefused("design " + std::to_string(n) + " is in two shards, " +
                           quoted(*it->second.first) + " and " + quoted(name) +
                           "; each design must come from one shard");
    }
  }
  // The numbers are in 1..designs_in_deck and distinct, so the count of the missing ones is a
  // difference; only the first few are looked up, whatever count the files claim.
  const long long missing_count =
      static_cast<long long>(first.designs_in_deck) - static_cast<long long>(by_number.size());
  if (missing_count > 0) {
    std::vector<int> missing;
    for (int n = 1; n <= first.designs_in_deck && missing.size() < 10; ++n)
      if (!by_number.count(n)) missing.push_back(n);
    std::string listed = list_numbers(missing);
    if (missing_count > 10) listed += ", ... (" + std::to_string(missing_count) + " in all)";
    throw MergeRefused(std::string(missing_count == 1 ? "design " : "designs ") + listed +
                       " of the deck's " + std::to_string(first.designs_in_deck) +
                       (missing_count == 1 ? " is" : " are") + " missing: no shard ran " +
                       (missing_count == 1 ? "it" : "them"));
  }

  reports::RunRecord merged;
  merged.version = first.version;
  merged.mvn_accuracy = first.mvn_accuracy;
  merged.exact = first.exact;
  merged.under_nulls = first.under_nulls;
  merged.seed_given = first.seed_given;
  merged.deck_sha256 = first.deck_sha256;
  merged.designs_in_deck = first.designs_in_deck;
  merged.header = first.header;
  // The seed of the run: the one given; shards seeded by their clocks name theirs only when
  // they all agree.
  merged.seed = first.seed_given;
  if (!merged.seed) {
    bool agree = true;
    for (const auto& [name, run] : shards) agree = agree && run.seed == first.seed;
    if (agree) merged.seed = first.seed;
  }
  for (const auto& [n, where] : by_number) merged.designs.push_back(*where.second);
  return merged;
}

std::string summary_table(const reports::RunRecord& run) {
  std::string out = reports::summary_header() + "\n";
  reports::RunResults r;
  for (const reports::DesignRecord& d : run.designs) {
    for (const reports::EvaluatedSet& s : d.sets) {
      keep_results(s.evaluation, r);
      out += reports::summary_line(row_label(s.label), d.design.stored, r) + "\n";
    }
  }
  return out;
}

int merge_command(const std::vector<std::string>& args, const std::filesystem::path& out,
                  std::ostream& err) {
  static const char* const usage =
      "usage: kestrel merge DIR...\n"
      "Reads DIR/a/kestrel-results.json of runs of parts of one deck (kestrel --shard I/N or\n"
      "--designs LIST, each in its own directory DIR) and writes a/kestrel-results.json,\n"
      "a/kestrel-report.html and a/TEST_7b.OUT into the current directory, as a run of the\n"
      "whole deck writes them. Exit status: 0 written, 1 a file could not be written, 2 bad\n"
      "arguments or shards that do not make one deck's run (nothing is written then).\n";
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    err << usage;
    return 0;
  }
  if (args.empty()) {
    err << "kestrel merge: name the directories of the shard runs\n" << usage;
    return 2;
  }
  std::vector<std::pair<std::string, reports::RunRecord>> shards;
  try {
    for (const std::string& dir : args) {
      if (!dir.empty() && dir[0] == '-')
        throw MergeRefused("unknown option '" + dir + "'; kestrel merge takes directories only");
      const std::filesystem::path file = std::filesystem::path(dir) / kResultsPath;
      const std::string text = read_regular_file(dir, file);
      try {
        shards.emplace_back(dir, reports::read_results_json(text));
      } catch (const reports::ResultsFileError& e) {
        throw MergeRefused(file.string() + ": " + e.what());
      }
    }
    const reports::RunRecord merged = merge_runs(shards);
    std::filesystem::create_directories(out / "a");
    // Every file is written beside its name and renamed into place only when all are complete.
    reports::ReportFile json(out / "a/kestrel-results.json", "a/kestrel-results.json");
    reports::ReportFile html(out / "a/kestrel-report.html", "a/kestrel-report.html");
    reports::ReportFile summary(out / "a/TEST_7b.OUT", "a/TEST_7b.OUT");
    json.stream() << reports::results_json(merged);
    html.stream() << reports::html_report(merged);
    summary.stream() << summary_table(merged);
    reports::ReportFile::put_all_in_place({&json, &html, &summary}, [] {});
  } catch (const MergeRefused& e) {
    err << "kestrel merge: " << e.what() << "\nkestrel merge: nothing was written\n";
    return 2;
  } catch (const RunError& e) {
    err << "kestrel merge: " << e.what() << "\n";
    return 1;
  } catch (const std::filesystem::filesystem_error& e) {
    err << "kestrel merge: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace kestrel::driver

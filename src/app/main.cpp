// Command line of kestrel: options, exit codes, nothing else.
//   0  the deck ran to its end
//   1  a calculation stopped the run (message on standard error; reports flushed and closed)
//   2  a bad deck or bad options (nothing written)
#include <csignal>
#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/bounds_command.h"
#include "common/errors.h"
#include "driver/merge.h"
#include "driver/run.h"
#include "reports/report_file.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrel [-C DIR] [--seed N] [--mvn-accuracy EPS] [--exact] [--under-nulls]\n"
    "                    [--designs LIST | --shard I/N]\n"
    "       kestrel merge DIR...\n"
    "       kestrel bounds [OPTIONS]     (kestrel bounds --help)\n"
    "       kestrel --help | --version\n"
    "\n"
    "Reads the design deck a/input.txt and writes the reports a/TEST_7a.OUT (detail),\n"
    "a/TEST_7b.OUT (one summary line per evaluated design), a/CORR_MAT_given_TIME.TXT\n"
    "(matrices of designs with calendar analysis times) and fort.60 (covariance blocks of\n"
    "designs with information fractions), all relative to the run directory.\n"
    "\n"
    "  -C DIR     run in DIR instead of the current directory\n"
    "  --seed N   seed the uniform generator with N (1 to 2147483646) instead of the clock,\n"
    "             so that a simulated run can be repeated; the main report names the seed\n"
    "  --mvn-accuracy EPS\n"
    "             ask the multivariate normal probabilities of the power for accuracy EPS\n"
    "             (1e-10 to 1e-4) instead of 1e-8: 1e-6 runs tens of times faster, and its\n"
    "             powers may differ from the default ones in the last printed digits; the main\n"
    "             report names the accuracy\n"
    "  --designs LIST\n"
    "             calculate only these designs of the deck (numbers and ranges such as 2,5-7,\n"
    "             numbered as in the deck), after the whole deck has been checked\n"
    "  --shard I/N\n"
    "             calculate the designs whose number is congruent to I modulo N\n"
    "  merge DIR...\n"
    "             read the results files DIR/a/kestrel-results.json of runs of parts of one deck\n"
    "             and write a/kestrel-results.json, a/kestrel-report.html and a/TEST_7b.OUT here,\n"
    "             as a run of the whole deck writes them\n"
    "  --exact    exact model: the covariance of the standardised scores under the design's\n"
    "             hazard ratios (the at-risk fractions' and the variance estimate's fluctuation\n"
    "             included) in the power, and bounds by the exact recursion (alpha spent to\n"
    "             1e-9); the reports name the model in force\n"
    "  --under-nulls\n"
    "             evaluate every design also under the global null (both hazard ratios 1)\n"
    "             and, for decision rules 1 to 3, the two partial nulls: type I error, stops\n"
    "             for efficacy and futility per analysis, expected subjects, events and\n"
    "             duration (designs with futility stops always are)\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 success, 1 a calculation stopped the run, 2 a bad deck or bad options.\n";

int bad_option(const std::string& what) {
  std::cerr << "kestrel: " << what << "\n" << kUsage;
  return 2;
}

// Whether argument a is the option `name`, alone or as name=VALUE.
bool names_option(const std::string& a, const std::string& name) {
  return a == name || a.rfind(name + "=", 0) == 0;
}

// The value of the option at args[i]: after its '=' or the next argument (i then moves past it).
// False when the option is last and has no '='.
bool option_value(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                  std::string& value) {
  const std::string& a = args[i];
  if (a.size() > name.size()) {
    value = a.substr(name.size() + 1);
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file-size limit a write that goes past it fails with its reason (and the run stops
  // with the name of the report, removing its temporary files) instead of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  // A run ended by SIGTERM, SIGINT or SIGHUP leaves no temporary report file behind.
  kestrel::reports::remove_temporary_files_on_signals();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "bounds") {
    return kestrel::cli::run_bounds_command({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "merge") {
    return kestrel::driver::merge_command({args.begin() + 1, args.end()}, ".", std::cerr);
  }
  std::filesystem::path dir = ".";
  bool selected = false;
  kestrel::driver::RunOptions options;
  std::vector<std::string> given;  // each option may be given once
  auto repeated = [&](const std::string& name) {
    for (const std::string& g : given)
      if (g == name) return true;
    given.push_back(name);
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    for (const char* name : {"-C", "--seed", "--mvn-accuracy", "--exact", "--under-nulls"}) {
      const bool flag = a == "-C" || a == "--exact" || a == "--under-nulls";
      if ((flag ? a == name : names_option(a, name)) && repeated(name))
        return bad_option(std::string("option ") + name + " given twice");
    }
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--version") {
      std::cout << "kestrel " << KESTREL_VERSION << "\n";
      return 0;
    }
    if (a == "-C") {
      if (i + 1 >= args.size()) return bad_option("-C needs a directory");
      dir = args[++i];
      std::error_code ec;
      if (!std::filesystem::exists(dir, ec))
        return bad_option("-C: no such directory: " + dir.string());
      if (!std::filesystem::is_directory(dir, ec))
        return bad_option("-C: not a directory: " + dir.string());
    } else if (names_option(a, "--seed")) {
      std::string v;
      if (!option_value(args, i, "--seed", v)) return bad_option("--seed needs a value");
      long long n = 0;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec != std::errc() || p != v.data() + v.size() || n < 1 || n > 2147483646)
        return bad_option("--seed takes an integer from 1 to 2147483646, not '" + v + "'");
      options.seed = static_cast<std::int32_t>(n);
    } else if (a == "--exact") {
      options.exact = true;
    } else if (a == "--under-nulls") {
      options.under_nulls = true;
    } else if (names_option(a, "--mvn-accuracy")) {
      std::string v;
      if (!option_value(args, i, "--mvn-accuracy", v)) return bad_option("--mvn-accuracy needs a value");
      double eps = 0;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), eps);
      if (ec != std::errc() || p != v.data() + v.size() || !(eps >= 1e-10 && eps <= 1e-4))
        return bad_option("--mvn-accuracy takes a number from 1e-10 to 1e-4, not '" + v + "'");
      options.mvn_accuracy = eps;
    } else if (names_option(a, "--designs") || names_option(a, "--shard")) {
      const bool list = names_option(a, "--designs");
      const std::string name = list ? "--designs" : "--shard";
      std::string v, problem;
      if (!option_value(args, i, name, v)) return bad_option(name + " needs a value");
      if (selected) return bad_option("--designs and --shard choose the designs once: give one of them, once");
      auto sel = list ? kestrel::driver::DesignSelection::designs(v, problem)
                      : kestrel::driver::DesignSelection::shard(v, problem);
      if (!sel) return bad_option(problem);
      options.selection = *sel;
      selected = true;
    } else {
      return bad_option("unknown option '" + a + "'");
    }
  }

  try {
    kestrel::driver::run_directory(dir, options, std::cout, std::cerr);
  } catch (const kestrel::driver::DeckRejected& e) {
    std::cout.flush();
    for (const std::string& p : e.problems()) std::cerr << p << "\n";
    std::cerr << "kestrel: the deck was rejected; no report was written\n";
    return 2;
  } catch (const kestrel::driver::SelectionRejected& e) {
    std::cout.flush();
    std::cerr << "kestrel: " << e.what() << "; no report was written\n";
    return 2;
  } catch (const kestrel::RunError& e) {
    std::cout.flush();
    std::cerr << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "kestrel: the run stopped: " << e.what() << "\n";
    return 1;
  }
  std::cout.flush();
  return 0;
}

// `kestrel bounds`: a single-endpoint group sequential design from the command line, printed as a
// table per analysis (or CSV) so that a statistician can check bounds, spending and power.
#include "cli/bounds_command.h"

#include "boundaries/bounds_request.h"
#include "cli/bounds_options.h"
#include "cli/bounds_table.h"
#include "common/errors.h"
#include "common/loss_warnings.h"

namespace kestrel::cli {
namespace {

constexpr const char* kHelp =
    "usage: kestrel bounds [OPTIONS]\n"
    "\n"
    "Group sequential bounds of one time-to-event endpoint by Lan-DeMets alpha spending, the\n"
    "drift that gives the power, and the numbers of events and subjects of a two-arm trial\n"
    "with exponential survival and uniform accrual.\n"
    "\n"
    "  --alpha A        overall type I error (default 0.025): one-sided from 1e-6 to 0.5,\n"
    "                   two-sided (both sides together) from 2e-6 to 1\n"
    "  --sides S        1 one-sided, 2 two-sided symmetric bounds (default 1)\n"
    "  --spending C     spending function (default 1):\n"
    "                     1 O'Brien-Fleming type, 2 Pocock type, 3 power family alpha*t^phi,\n"
    "                     4 Hwang-Shih-DeCani family, 5 cumulative values given by --cumulative,\n"
    "                     6 alternative O'Brien-Fleming type\n"
    "  --phi X          parameter of codes 3 (X > 0) and 4 (X != 0); required with them\n"
    "  --cumulative L   code 5: cumulative alpha at each analysis, comma-separated, positive,\n"
    "                   strictly increasing, the last equal to alpha (both sides together)\n"
    "  --times L        information fractions of the analyses, comma-separated, strictly\n"
    "                   increasing in (0, 1]; a value may be written as a fraction such as 1/3\n"
    "                   (default 1: a single analysis; at most 25 analyses); a last time below 1\n"
    "                   (a trial that stopped early) spends only part of alpha, and the table\n"
    "                   says how much\n"
    "  --power P        power, above the one-sided alpha and below 1 (default 0.9)\n"
    "  --hr R           hazard ratio, treatment over control, R > 0 and R != 1 (default 0.7)\n"
    "  --accrual TA     accrual period (default 1)\n"
    "  --follow-up TF   additional follow-up after accrual (default 1); TA + TF > 0\n"
    "  --survival S     control-arm survival at the end of the study, 0 < S < 1 (default 0.5),\n"
    "                   or at the time --survival-time T (T > 0)\n"
    "  --median M       control-arm median survival instead, M > 0\n"
    "  --control-hazard H  control-arm hazard per time unit instead, H > 0; each form is\n"
    "                   converted to the survival at the end of the study (exponential)\n"
    "  --allocation P   proportion of subjects on treatment, 0 < P < 1 (default 0.5)\n"
    "  --exact          exact bounds: the recursion on Gauss-Legendre nodes, bounds and the\n"
    "                   alpha they spend to 1e-9 (default: the grid recursion, 1e-4 on a bound)\n"
    "  --dropout L      hazard of loss to follow-up per time unit, control[,treatment], 0 or\n"
    "                   more (one value: both arms; default none)\n"
    "  --dropout-probability L  probability of being lost by the time --dropout-time,\n"
    "                   control[,treatment], in [0, 1); hazard = -log(1 - p)/time\n"
    "  --dropout-time T the time of --dropout-probability, T > 0\n"
    "  --accrual-pieces L  ends of the accrual pieces, comma-separated, increasing, the last\n"
    "                   equal to --accrual (at most 10; default one piece: uniform entry)\n"
    "  --accrual-intensity L  relative intensity of each piece, above 0 (with --accrual-pieces)\n"
    "  --hazards L      piecewise control hazards per time unit, 1 to 10 pieces, above 0 (the\n"
    "                   law then replaces --survival)\n"
    "  --hazard-times L change points c1,..,c(m-1) of the m pieces, increasing, above 0\n"
    "  --hazard-ratios L ratio (treatment over control) of each piece, above 0 (default --hr\n"
    "                   in every piece); the table then adds the design's hazard ratio and\n"
    "                   the calendar times of the analyses\n"
    "  --futility-spending C[,X]  futility stops by beta spending of code C (1 to 6 as\n"
    "                   --spending, spending 1 - power), X the phi of codes 3 and 4; code 5\n"
    "                   takes the cumulative beta per analysis, the last 1 - power:\n"
    "                   5,b1,...,bK\n"
    "  --futility-z L   futility stops below the z of each interim analysis (K - 1 values)\n"
    "  --futility-hr L  futility stops when the estimated hazard ratio is above the value of\n"
    "                   each interim analysis (K - 1 values, above 0)\n"
    "  --binding        binding futility: the efficacy bounds designed with the futility\n"
    "                   stops in force (default non-binding)\n"
    "  --csv            print the table as CSV\n"
    "\n"
    "Events: the number D whose drift gives the power, rounded up to a whole number and then\n"
    "up to a multiple of the number of analyses K. Subjects: D over the probability of an event\n"
    "by the end of the study, rounded up. Per analysis, the events expected there are D times\n"
    "its information fraction, and its calendar time is when the subjects' expected events\n"
    "reach that number (entry, loss to follow-up and accrual pieces as given).\n"
    "  --help           show this text\n"
    "\n"
    "Exit status: 0 success, 1 the calculation did not converge or could not be completed,\n"
    "2 bad options.\n";

}  // namespace

int run_bounds_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BoundsOptions o;
  try {
    o = parse_bounds_options(args);
  } catch (const OptionError& e) {
    err << "kestrel bounds: " << e.message << "\nTry 'kestrel bounds --help'.\n";
    return 2;
  }
  if (o.help) {
    out << kHelp;
    return 0;
  }

  boundaries::BoundsResult table;
  try {
    table = boundaries::calculate_bounds(o);
  } catch (const RunError& e) {
    std::string m = e.what();
    while (!m.empty() && m.front() == ' ') m.erase(m.begin());
    err << "kestrel bounds: " << m << "\n";
    return 1;
  }
  const boundaries::GsDesignResult& r = table.result;
  if (o.csv) {
    write_bounds_csv(table, out);
  } else {
    print_bounds_table(table, out);
  }
  for (const std::string& w : table.warnings) err << "kestrel bounds: warning: " << w << "\n";
  {
    EntryAndLossStatements how;
    how.dropout_as_probability = o.dropout_time.has_value();
    how.dropout_time = o.dropout_time.value_or(0.0);
    for (const std::string& w : loss_warnings(o.entry_loss, how, o.accrual, o.follow_up))
      err << "kestrel bounds: warning: " << w << "\n";
  }
  if (!r.drift_converged) {
    err << "kestrel bounds: the drift search did not reach the power; the figures above are not"
           " reliable\n";
    return 1;
  }
  return 0;
}

}  // namespace kestrel::cli

// Feeds arbitrary bytes to the deck reader and checker. Beyond "no crash, no hang, no sanitizer
// report" it checks what the run relies on: a deck that passes the checks has a layout the run
// loop can follow, and its input summary and summary lines can be written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "deck/deck.h"
#include "reports/report_lines.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  deck::Deck deck = deck::read_deck(text);
  std::vector<deck::DeckProblem> problems = deck::check_deck(deck);
  for (const auto& p : problems) {
    if (p.line < 0) std::abort();
    // A message is one line of ordinary length: deck text in it is cut and escaped.
    const std::string m = p.message("a/input.txt");
    if (m.size() > 1500) std::abort();
    for (char c : m)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
  }
  if (!problems.empty()) return 0;
  for (const auto& rec : deck.designs) {
    const DeckValues& v = rec.design.stored;
    if (v.LOOK < 1 || v.LOOK > NMAXA) std::abort();
    if (v.ITIME < 1 || v.ITIME > 3) std::abort();
    std::size_t sets = v.ITIME == 1 ? 2 : 1;
    if (rec.design.spending.size() != sets) std::abort();
    for (const auto& pair : rec.design.spending) {
      for (const auto& sp : pair) {
        int code = sp.code_in_force();
        if (code < 1 || code > 6) std::abort();
        if ((code == 3 || code == 4) && !sp.has_phi) std::abort();
        if (code == 5 && sp.cumulative.size() != static_cast<std::size_t>(v.LOOK)) std::abort();
      }
    }
    if (!(v.HR1 > 0 && v.HR2 > 0 && v.HR1TR > 0 && v.HR2TR > 0)) std::abort();
    std::ostringstream os;
    reports::write_input_summary(os, v);
    (void)reports::summary_line(reports::kLabelEp1, v, reports::RunResults{});
  }
  return 0;
}

// The example decks a user copies: each reads cleanly, and together they cover the three timing
// modes, the three copulas, the four decision rules and spending codes 1 to 4, with K <= 3 and
// beneficial treatments (deck hazard ratios, control over treatment, above 1).
#include <gtest/gtest.h>

#include <set>

#include "deck/deck.h"
#include "common/test_dirs.h"

namespace kestrel::deck {
namespace {

namespace fs = std::filesystem;

TEST(Examples, ReadCleanlyAndCoverTheModes) {
  std::set<int> itime, cpl, df, codes;
  int decks = 0, lossy = 0, pieces = 0, futile = 0;
  for (const auto& e : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / "examples")) {
    if (e.path().extension() != ".txt") continue;
    SCOPED_TRACE(e.path().filename().string());
    ++decks;
    Deck deck = read_deck(testing::slurp(e.path()));
    auto problems = check_deck(deck);
    EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems[0].message("deck"));
    EXPECT_EQ(deck.incomplete_record_line, 0);
    EXPECT_NE(deck.header.TITLE.substr(0, 6), "      ");
    EXPECT_FALSE(deck.designs.empty());
    for (const DeckRecord& rec : deck.designs) {
      const DeckValues& d = rec.design.read;
      itime.insert(d.ITIME);
      cpl.insert(d.CPL);
      df.insert(d.DF);
      EXPECT_LE(d.LOOK, 3);
      EXPECT_GT(d.HR1, 1);
      EXPECT_GT(d.HR2, 1);
      for (const auto& pair : rec.design.spending)
        for (const auto& sp : pair) codes.insert(sp.code_in_force());
      if (rec.design.entry_loss.has_dropout() && rec.design.entry_loss.has_ramp()) ++lossy;
      const auto& hz = rec.design.entry_loss.hazards;
      if (hz[0].given() && hz[1].given()) ++pieces;
      if (rec.design.futility.any()) ++futile;
    }
  }
  EXPECT_EQ(decks, 6);
  EXPECT_EQ(lossy, 1);   // one example shows loss to follow-up with a ramped accrual
  EXPECT_EQ(pieces, 1);  // one a delayed effect on both endpoints
  EXPECT_EQ(futile, 1);  // and one futility stops
  EXPECT_EQ(itime, (std::set<int>{1, 2, 3}));
  EXPECT_EQ(cpl, (std::set<int>{1, 2, 3}));
  EXPECT_EQ(df, (std::set<int>{1, 2, 3, 4}));
  for (int c : {1, 2, 3, 4}) EXPECT_TRUE(codes.count(c)) << "spending code " << c;
}

}  // namespace
}  // namespace kestrel::deck

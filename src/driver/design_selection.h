#pragma once
// Part of a deck: the designs a run calculates (--designs LIST or --shard I/N), and the rule that
// gives each design of a seeded run its own start of the uniform generator, so that a design's
// figures do not depend on which other designs ran.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::driver {

class DesignSelection {
 public:
  // The whole deck.
  DesignSelection() = default;

  // "--designs LIST": numbers and ranges separated by commas ("2,5-7"), each number 1 or more,
  // each range ascending. Returns nothing and sets `problem` (what is wrong and what is allowed)
  // when the text is not such a list.
  static std::optional<DesignSelection> designs(std::string_view list, std::string& problem);
  // "--shard I/N": the designs whose number is congruent to I modulo N, 1 <= I <= N.
  static std::optional<DesignSelection> shard(std::string_view text, std::string& problem);

  bool whole_deck() const { return kind_ == Kind::whole; }
  bool selects(int number) const;
  // The selection as the results file and the main report name it: "designs 2,5-7",
  // "shard 1/3"; empty for the whole deck.
  std::string text() const;
  // A problem with a deck of `count` designs (a listed design the deck does not have), or empty.
  std::string check_against(int count) const;

 private:
  enum class Kind { whole, list, shard };
  Kind kind_ = Kind::whole;
  std::vector<std::pair<int, int>> ranges_;  // list: inclusive ranges, as given
  int shard_ = 0, shards_ = 0;
  std::string given_;
};

// Where the uniform generator of design `number` starts in a run seeded with S (--seed): design 1
// at S itself, design n at S advanced by (n - 1) * kDesignSeedJump draws of the generator. The
// jump is the integer nearest to (2^31 - 2)(sqrt(5) - 1)/2, the golden section of the
// generator's period, so the designs' starting points are spread evenly over the period.
inline constexpr std::uint64_t kDesignSeedJump = 1327217884u;
std::int32_t design_seed(std::int32_t S, int number);

}  // namespace kestrel::driver

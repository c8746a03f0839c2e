#include "driver/design_selection.h"

#include <charconv>

#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

// A whole decimal number of at most 9 digits, 1 or more.
bool positive(std::string_view s, int& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  std::from_chars(s.data(), s.data() + s.size(), out);
  return out >= 1;
}

}  // namespace

std::optional<DesignSelection> DesignSelection::designs(std::string_view list,
                                                        std::string& problem) {
  DesignSelection sel;
  sel.kind_ = Kind::list;
  sel.given_ = std::string(list);
  const std::string allowed =
      "design numbers and ranges separated by commas, such as 2,5-7 (numbers from 1 to 999999999, "
      "each range from low to high)";
  std::string_view rest = list;
  for (;;) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const size_t dash = item.find('-');
    int lo = 0, hi = 0;
    const bool ok = dash == std::string_view::npos
                        ? positive(item, lo) && (hi = lo, true)
                        : positive(item.substr(0, dash), lo) && positive(item.substr(dash + 1), hi);
    if (!ok || hi < lo) {
      problem = "--designs takes " + allowed + ", not '" + std::string(list) + "'" +
                (item.empty() ? std::string(" (an empty item)")
                              : " ('" + std::string(item) + "' is not one)");
      return std::nullopt;
    }
    sel.ranges_.emplace_back(lo, hi);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return sel;
}

std::optional<DesignSelection> DesignSelection::shard(std::string_view text,
                                                      std::string& problem) {
  DesignSelection sel;
  sel.kind_ = Kind::shard;
  sel.given_ = std::string(text);
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos || !positive(text.substr(0, slash), sel.shard_) ||
      !positive(text.substr(slash + 1), sel.shards_) || sel.shard_ > sel.shards_) {
    problem = "--shard takes I/N, shard I of N with 1 <= I <= N <= 999999999 (such as 1/3), not '" +
              std::string(text) + "'";
    return std::nullopt;
  }
  return sel;
}

bool DesignSelection::selects(int number) const {
  switch (kind_) {
    case Kind::whole: return true;
    case Kind::shard: return number % shards_ == shard_ % shards_;
    case Kind::list:
      for (const auto& [lo, hi] : ranges_)
        if (number >= lo && number <= hi) return true;
      return false;
  }
  return true;
}

std::string DesignSelection::text() const {
  switch (kind_) {
    case Kind::whole: return {};
    case Kind::list: return "designs " + given_;
    case Kind::shard: return "shard " + given_;
  }
  return {};
}

std::string DesignSelection::check_against(int count) const {
  if (kind_ != Kind::list) return {};
  for (const auto& [lo, hi] : ranges_) {
    if (hi > count && count == 0) return "--designs " + given_ + ": the deck has no design";
    if (hi > count)
      return "--designs " + given_ + ": the deck has " + std::to_string(count) + " design" +
             (count == 1 ? "" : "s") + ", numbered 1 to " + std::to_string(count) +
             ", so there is no design " + std::to_string(lo > count ? lo : count + 1);
  }
  return {};
}

std::int32_t design_seed(std::int32_t S, int number) {
  const std::uint64_t n = number > 1 ? static_cast<std::uint64_t>(number - 1) : 0;
  return numerics::skip_ahead_950706376(S, n * kDesignSeedJump);
}

}  // namespace kestrel::driver

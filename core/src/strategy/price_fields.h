// The fields of a bar that a price expression names: the condition reader
// accepts them and the diagnostics recognise a bare price name taken for an
// indicator.
#ifndef VELKOR_STRATEGY_PRICE_FIELDS_H_
#define VELKOR_STRATEGY_PRICE_FIELDS_H_

#include <string_view>

namespace velkor::strategy {

inline constexpr std::string_view kPriceFields[] = {"open", "high", "low", "close", "volume", "hlc3", "ohlc4"};

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_PRICE_FIELDS_H_

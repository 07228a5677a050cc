// The delivery state's file: what it reads, what it refuses, and that what it writes reads back.
#include "monitor/delivery_state.h"

#include <gtest/gtest.h>

namespace {

TDateTime At(int year, int month, int day, int hour, int minute, int second, int ms) {
  return EncodeDateTime({year, month, day, hour, minute, second, ms});
}

TEST(DeliveryState, ReadsWhatItWritesAndRefusesWhatIsNoState) {
  const TDateTime after = At(2026, 12, 10, 1, 2, 3, 456), pending = At(2026, 12, 10, 1, 1, 59, 0);
  struct Case {
    const char* text;
    bool reads;
    std::optional<TDateTime> loggedAfter, pending;
  } cases[] = {
      {"# c\n2026-12-10 01:02:03.456\n", true, after, std::nullopt},
      {"2026-12-10 01:02:03.456\r\npending 2026-12-10 01:01:59.000\r\n", true, after, pending},
      {"pending 2026-12-10 01:01:59.000\n", true, std::nullopt, pending},
      {"# only comments\n\n", true, std::nullopt, std::nullopt},
      {"2026-12-10 01:02:03.456\n2026-12-10 01:02:03.456\n", false, {}, {}},
      {"2026-02-30 01:02:03.456\n", false, {}, {}},
      {"2026-12-10 01:02:03.456x\n", false, {}, {}},
      {"10/12/26 1:02:03\n", false, {}, {}},
      {"pending\n", false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto state = ParseDeliveryState(c.text);
    ASSERT_EQ(state.has_value(), c.reads);
    if (!c.reads) continue;
    EXPECT_EQ(state->LoggedAfter, c.loggedAfter);
    EXPECT_EQ(state->Pending, c.pending);
    const auto again = ParseDeliveryState(DeliveryStateText(*state));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->LoggedAfter, state->LoggedAfter);
    EXPECT_EQ(again->Pending, state->Pending);
  }
  EXPECT_EQ(DeliveryStateText({after, pending}).substr(DeliveryStateText({}).size()),
            "2026-12-10 01:02:03.456\npending 2026-12-10 01:01:59.000\n");
}

}  // namespace

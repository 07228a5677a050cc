#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include "monitor/actions.h"
#include "monitor/pageaction.h"

namespace {

TEST(ActionFor, OnlyTheExactLowerCaseWordPages) {
  struct Case {
    std::string word;
    ReportAction action;
  } cases[] = {
      {"page", RunPageAction}, {"Page", nullptr},
      {"PAGE", nullptr},       {" page", nullptr},
      {"page ", nullptr},      {"pages", nullptr},
      {"", nullptr},           {std::string("page\0", 5), nullptr},
      {"mail", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(ActionFor(c.word), c.action) << '"' << c.word << '"';
}

TEST(CycleWaitMilliseconds, WaitsTheSecondsWithinTheCountsReach) {
  struct Case {
    std::int32_t seconds;
    std::uint32_t milliseconds;
  } cases[] = {
      {1, 1000},
      {60, 60000},
      {4294967, 4294967000u},
      {4294968, 4294967295u},
      {2147483647, 4294967295u},
      {0, 0},
      {-1, 0},
      {-2147483647 - 1, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CycleWaitMilliseconds(c.seconds), c.milliseconds) << c.seconds;
}

}  // namespace

#include "monitor/actions.h"

#include "monitor/pageaction.h"

namespace {

constexpr tReportActionEntry kReportActions[] = {
    {kPageAction, RunPageAction},
};

}  // namespace

ReportAction ActionFor(const std::string& word) {
  for (const tReportActionEntry& entry : kReportActions)
    if (entry.Word == word) return entry.Run;
  return nullptr;
}

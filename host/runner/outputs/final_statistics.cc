#include "host/runner/outputs/final_statistics.h"

#include "host/runner/outputs/console_lines.h"
#include "host/runner/outputs/station_table.h"

namespace veldrane::host {

std::string FormatStatistics(const std::vector<RunLine>& lines) {
  std::string text = "\nStatistics:\n";
  long long all_sent = 0, all_failed = 0;
  for (const RunLine& line : lines) {
    if (lines.size() > 1 && !line.watch) {
      text += line.Title() + ": " + NotRunningNote(line) + "\n";
      continue;
    }
    if (lines.size() > 1) text += line.Title() + ":\n";
    text += FormatStationTable(*line.watch);
    text += "total: " + std::to_string(line.sent) + " frames sent, " + std::to_string(line.failed) +
            " failed\n";
    all_sent += line.sent;
    all_failed += line.failed;
  }
  if (lines.size() > 1) {
    text += "all lines: " + std::to_string(all_sent) + " frames sent, " +
            std::to_string(all_failed) + " failed\n";
  }
  return text;
}

void FinalStatistics::Finish(const GatewayView& view) {
  PrintLines(stdout, Priority::kInfo, FormatStatistics(*view.lines));
  // A server's clients and the writes it took: what a PLC programmer looks for after a run.
  for (const InputHealth& input : view.inputs) {
    if (input.name == "modbus")
      PrintLines(stdout, Priority::kInfo, "Modbus " + input.detail + "\n");
  }
}

}  // namespace veldrane::host

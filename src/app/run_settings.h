// What a wipe run is made of besides its drives, from values rather than controls: the method
// list, the "/" switches applied to the options, and the settings a run takes from the options
// and its method. The wizard's pages and the unattended run both build their runs with these.
#pragma once

#include "app/wipe_job.h"
#include "report/report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace purgelet {

class TPLOptions;
class method;

namespace ui {
class Host;
}

// A method as the method list offers it: the name it is listed under and the method.
struct TMethodChoice {
    std::string Name;
    method* Method = nullptr; // not owned; null for no method
};

// The method list in its order: index n is what /M<n> chooses.
std::vector<TMethodChoice> MethodChoices();

// One "/" switch ("/A", "/B3", "/R<path>", ...) applied to the options for this start. A value
// that is no value of the switch, and a switch that is none, are told through host as a message
// box and change nothing. /M is no option: the method index it names is returned, else nothing.
std::optional<std::int32_t> ApplySwitch(TPLOptions& options, const std::string& argument,
                                        ui::Host& host);

// The options as the options page leaves them once it has shown them: a buffer size of the
// list, and a report file name wherever a report is written (the default one where none is).
void SettleOptions(TPLOptions& options);

// The report's options section: the options page's captions, each with its option's state.
TReportSettings ReportSettingsOf(const TPLOptions& options, const std::string& methodName);

// The run's settings: the options as they stand, with the chosen method.
TWipeSettings WipeSettingsOf(const TPLOptions& options, const TMethodChoice& chosen);

} // namespace purgelet

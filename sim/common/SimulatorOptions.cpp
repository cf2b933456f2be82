#include "sim/common/SimulatorOptions.h"

namespace sim {

const char* SimulatorOptions::Usage() {
    return "usage: q417-sim [--pipe NAME] [--trace FILE] [--unplugged] [--link-ms 0|1|2]\n"
           "                [--no-unasked-status] [--help]\n"
           "  --pipe NAME    pipe of the virtual module (default: %Q417_SIM_PIPE%, else q417-sim)\n"
           "  --trace FILE   trace of the received reports (default: q417-sim-trace.csv beside "
           "the exe)\n"
           "  --unplugged    start with the module pulled out\n"
           "  --link-ms N    milliseconds per output report on the link: 1 (default, a "
           "full-speed link), 2, or 0 (no limit)\n"
           "  --no-unasked-status  status reports only as answers (none when a list runs empty "
           "or a reset ends)\n"
           "keys: p = plug in / pull out, d = deaf / hearing, q = quit\n";
}

SimulatorOptions ParseSimulatorOptions(const std::vector<std::string>& args) {
    SimulatorOptions options;
    for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                options.error = "option " + arg + " needs a value";
            } else {
                target = args[++i];
            }
        };
        if (arg == "--pipe") {
            value(options.pipeName);
        } else if (arg == "--trace") {
            value(options.tracePath);
        } else if (arg == "--unplugged") {
            options.unplugged = true;
        } else if (arg == "--link-ms") {
            std::string ms;
            value(ms);
            if (options.error.empty()) {
                if (ms == "0" || ms == "1" || ms == "2") {
                    options.linkPeriodUs = static_cast<uint64_t>(ms[0] - '0') * 1000;
                } else {
                    options.error = "--link-ms takes 0, 1 or 2, not " + ms;
                }
            }
        } else if (arg == "--no-unasked-status") {
            options.unaskedStatus = false;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else {
            options.error = "unknown argument " + arg;
        }
    }
    return options;
}

}  // namespace sim

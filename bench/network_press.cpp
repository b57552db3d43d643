// Presses over the network line, in one process as a script's loop would run them: the action on
// the network line to the URL given, each press timed from the line's creation to its close.
//   network_press URL CYCLES
#include "output/set_outputs.h"
#include "serial/network/network_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: network_press URL CYCLES\n");
        return 2;
    }
    const std::string url = argv[1];
    const int cycles = std::stoi(argv[2]);
    const auto press = [&] {
        const auto line = ostrim::NetworkLineFor(url);
        const ostrim::ActionOutcome outcome
            = ostrim::SetOutputs(ostrim::GivenEntries("1", "7", {1, 0, 1, 0}), *line);
        if (outcome.ending != ostrim::Ending::Sent) {
            std::fprintf(stderr, "network_press: %s\n", outcome.message.c_str());
            std::exit(1);
        }
    };
    for (int index = 0; index < std::min(cycles, 20); ++index)
        press();
    std::vector<double> times;
    for (int index = 0; index < cycles; ++index) {
        const auto start = std::chrono::steady_clock::now();
        press();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / times.size();
    // The figures by the scheme, "rfc2217" or "socket", for run.sh to find.
    const std::string scheme = url.substr(0, url.find(':'));
    std::printf("figure ostrim_%s_median_us %.1f\nfigure ostrim_%s_mean_us %.1f\n", scheme.c_str(),
        median, scheme.c_str(), mean);
    std::printf("ostrim %s: %d presses, median %.1f us, mean %.1f us\n", scheme.c_str(), cycles,
        median, mean);
    return 0;
}

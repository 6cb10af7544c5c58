// The Help sidebar's search: one call of the filter for queries that find many pages, few and
// none. Prints microseconds of the thread's CPU time per call (median and 95th percentile).

#include <cstdio>
#include <string>
#include <vector>

#include "Figures.h"
#include "foundation/DateFormatting.h"
#include "help/HelpSection.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;

int main() {
    setCurrentLocaleIdentifier("en_US");
    std::size_t found = 0;
    for (const std::string query : {"", "  UPS ", "sleep", "wake sleep", "dépannage", "⌘"}) {
        std::vector<double> samples;
        for (int i = 0; i < 2000; ++i) {
            samples.push_back(micros([&] { found += filterHelpSections(query).size(); }));
        }
        const Figures f = summarise(samples);
        std::printf("filter \"%s\"%*s median %7.1f us   p95 %7.1f us\n", query.c_str(),
                    static_cast<int>(16 - query.size()), "", f.median, f.p95);
    }
    std::printf("(%zu pages found in all)\n", found);
    return 0;
}

#pragma once
// The sane range of each timing value of the link, shared by the settings
// file of the monitor and the options of the command-line tool.

struct LinkValueRange {
    int low;
    int high;
    int fallback;
    constexpr bool holds(long long value) const { return value >= low && value <= high; }
};

inline constexpr LinkValueRange PingDelayRange{50, 10000, 300};     // window of the short reads, ms
inline constexpr LinkValueRange SendDelayRange{100, 60000, 2000};   // window of writes and long reads, ms
inline constexpr LinkValueRange BaseRequestCountRange{0, 10, 3};    // repeats after the first attempt

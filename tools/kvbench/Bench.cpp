#include "Bench.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

namespace kvbench {

void progress(const std::string& text) { std::cerr << "kvbench: " << text << std::endl; }

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double secondsSince(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(decimals);
    s << v;
    return s.str();
}

std::string grouped(long long v) {
    // Built by appending: inserting into the string trips a false -Wrestrict of GCC 12.
    const std::string digits = std::to_string(v);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto at = std::size_t(std::ceil(p / 100.0 * double(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

}  // namespace kvbench

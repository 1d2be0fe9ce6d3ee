#include "audio/EnvelopeCorrelation.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cfb {

namespace {

constexpr int WindowMs = 10;

std::vector<double> envelope(std::span<const int16_t> samples, int window)
{
    std::vector<double> out(samples.size() / std::size_t(window));
    for (std::size_t w = 0; w < out.size(); ++w) {
        double sum = 0;
        for (int i = 0; i < window; ++i) {
            const double s = samples[w * std::size_t(window) + std::size_t(i)];
            sum += s * s;
        }
        out[w] = std::sqrt(sum / window);
    }
    return out;
}

double pearson(const std::vector<double>& a, const std::vector<double>& b, int lag)
{
    // a[i] against b[i + lag], over where both exist.
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, -lag);
    const std::ptrdiff_t to = std::min<std::ptrdiff_t>(std::ptrdiff_t(a.size()), std::ptrdiff_t(b.size()) - lag);
    const std::ptrdiff_t n = to - from;
    if (n < 10)
        return 0;
    double ma = 0, mb = 0;
    for (std::ptrdiff_t i = from; i < to; ++i)
        ma += a[std::size_t(i)], mb += b[std::size_t(i + lag)];
    ma /= double(n), mb /= double(n);
    double ab = 0, aa = 0, bb = 0;
    for (std::ptrdiff_t i = from; i < to; ++i) {
        const double x = a[std::size_t(i)] - ma, y = b[std::size_t(i + lag)] - mb;
        ab += x * y, aa += x * x, bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

} // namespace

EnvelopeMatch EnvelopeMatch::of(std::span<const int16_t> sent, std::span<const int16_t> heard, int sampleRate,
    int maxLagMs)
{
    const int window = std::max(1, sampleRate / 1000 * WindowMs);
    const std::vector<double> a = envelope(sent, window), b = envelope(heard, window);
    EnvelopeMatch best;
    best.correlation = -1;
    for (int lag = 0; lag <= maxLagMs / WindowMs; ++lag) {
        const double r = pearson(a, b, lag);
        if (r > best.correlation)
            best = {r, lag * WindowMs};
    }
    best.correlation = std::max(best.correlation, 0.0);
    return best;
}

} // namespace cfb

#include "StallTable.h"

#include <algorithm>
#include <cstdio>

const std::vector<StallTable::Action>& StallTable::actions()
{
    static const std::vector<Action> all = {
        {QStringLiteral("sign-in"), QStringLiteral("Login + 3 lookups")},
        {QStringLiteral("Busy"), QStringLiteral("SetStatus")},
        {QStringLiteral("poll tick, 3 buddies"), QStringLiteral("3x lookUp+Avatar")},
        {QStringLiteral("select a tab"), QString()},
        {QStringLiteral("Send"), QStringLiteral("SendMessage")},
        {QStringLiteral("Shout, 3 tabs"), QStringLiteral("3x SendMessage")},
        {QStringLiteral("picture 640x480"), QStringLiteral("SendFrame")},
        {QStringLiteral("picture 4032x3024"), QStringLiteral("SendFrame")},
        {QStringLiteral("Setup: open"), QString()},
        {QStringLiteral("Setup: apply e-mail"), QStringLiteral("ChangeEmail+SetAvatar")},
        {QStringLiteral("Buddies: open editor"), QStringLiteral("GetBlockedUserList")},
        {QStringLiteral("Buddies: Add"), QStringLiteral("AddBuddy+lookUp+Avatar")},
        {QStringLiteral("Exit"), QStringLiteral("Logout")},
    };
    return all;
}

void StallTable::add(const QString& action, Service service, const Sample& sample)
{
    window_[service][action].push_back(sample);
}

void StallTable::addBare(const QString& action, double ms)
{
    bare_[action].push_back(ms);
}

void StallTable::addRefused(const QString& action, long long count)
{
    refused_[action] += count;
}

double StallTable::median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double StallTable::worstStall(const QString& action, Service service) const
{
    const auto found = window_[service].find(action);
    if (found == window_[service].end())
        return -1;
    double worst = -1;
    for (const Sample& s : found->second)
        worst = std::max(worst, s.stallMs);
    return worst;
}

namespace {

QString cell(double ms, int width)
{
    return ms < 0 ? QStringLiteral("-").rightJustified(width) : QString::number(ms, 'f', 1).rightJustified(width);
}

} // namespace

void StallTable::print(const QString& heading) const
{
    std::printf("\n%s\n", qPrintable(heading));
    std::printf("%-22s | %-32s | %-32s | %-22s | %-31s\n", "", "healthy (median of n)", "answers after 2 s",
        "silent (fails ~3 s)", "bare library call, healthy");
    std::printf("%-22s | %7s %9s %4s %8s | %7s %9s %4s %8s | %7s %9s %4s | %-21s %9s %6s\n", "action", "stall", "wall",
        "n", "maxstall", "stall", "wall", "n", "ok", "stall", "wall", "ok", "work", "ms", "ratio");
    for (const Action& action : actions()) {
        QString line = action.name.leftJustified(22) + QStringLiteral(" |");
        double healthyWall = -1;
        for (int s = 0; s < ServiceCount; ++s) {
            const auto found = window_[s].find(action.name);
            std::vector<double> stalls, walls;
            int good = 0;
            if (found != window_[s].end())
                for (const Sample& sample : found->second) {
                    stalls.push_back(sample.stallMs);
                    walls.push_back(sample.wallMs);
                    good += sample.outcome ? 1 : 0;
                }
            const int n = int(stalls.size());
            line += QLatin1Char(' ') + cell(median(stalls), 7) + QLatin1Char(' ') + cell(median(walls), 9);
            if (s == Healthy) {
                healthyWall = median(walls);
                line += QStringLiteral(" %1").arg(n, 4) + QLatin1Char(' ') + cell(worstStall(action.name, Healthy), 8);
                if (good != n)
                    line += QStringLiteral(" (%1 of %2 ok)").arg(good).arg(n);
            } else if (s == Slow) {
                line += QStringLiteral(" %1 %2").arg(n, 4).arg(
                    good == n && n ? QStringLiteral("yes") : QStringLiteral("NO"), 8);
            } else {
                line += QStringLiteral(" %1").arg(good == n && n ? QStringLiteral("yes") : QStringLiteral("NO"), 4);
            }
            line += QStringLiteral(" |");
        }
        const auto bare = bare_.find(action.name);
        const double bareMs = bare == bare_.end() ? -1 : median(bare->second);
        line += QLatin1Char(' ')
            + (action.bareWork.isEmpty() ? QStringLiteral("(no request)") : action.bareWork).leftJustified(21)
            + QLatin1Char(' ') + (bareMs < 0 ? cell(bareMs, 9) : QString::number(bareMs, 'f', 3).rightJustified(9));
        if (bareMs > 0 && healthyWall >= 0)
            line += QStringLiteral(" %1x").arg(healthyWall / bareMs, 5, 'f', 2);
        std::printf("%s\n", qPrintable(line));
    }
    long long refused = 0;
    for (const auto& [action, count] : refused_)
        refused += count;
    std::printf("requests the user-interface thread made itself (refused there, as the program does): %lld\n", refused);
    for (const auto& [action, count] : refused_)
        if (count > 0)
            std::printf("  %s: %lld\n", qPrintable(action), count);
}

QStringList StallTable::misses(double stallAimMs, double ratioAim) const
{
    QStringList missed;
    for (const Action& action : actions()) {
        for (int s = 0; s < ServiceCount; ++s) {
            const auto found = window_[s].find(action.name);
            if (found == window_[s].end())
                continue;
            std::vector<double> stalls, walls;
            for (const Sample& sample : found->second) {
                stalls.push_back(sample.stallMs);
                walls.push_back(sample.wallMs);
            }
            static const char* const names[] = {"healthy", "2 s", "silent"};
            if (median(stalls) >= stallAimMs)
                missed << QStringLiteral("%1: stall %2 ms with the %3 service")
                              .arg(action.name)
                              .arg(median(stalls), 0, 'f', 1)
                              .arg(QLatin1String(names[s]));
            if (s == Healthy) {
                const auto bare = bare_.find(action.name);
                const double bareMs = bare == bare_.end() ? -1 : median(bare->second);
                if (bareMs > 0 && median(walls) / bareMs > ratioAim)
                    missed << QStringLiteral("%1: healthy %2 ms against bare %3 ms (%4x)")
                                  .arg(action.name)
                                  .arg(median(walls), 0, 'f', 1)
                                  .arg(bareMs, 0, 'f', 1)
                                  .arg(median(walls) / bareMs, 0, 'f', 2);
            }
        }
    }
    return missed;
}

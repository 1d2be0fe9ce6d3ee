#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

// What the stall benchmark measured: per user action and service, how long the user-interface
// thread was kept from its events at most and how long the action took until its outcome
// arrived; per action, how long the same library work takes on a plain thread. Prints medians.
class StallTable {
public:
    enum Service { Healthy, Slow, Silent, ServiceCount };

    struct Sample {
        double stallMs = 0;
        double wallMs = 0;
        bool outcome = false; // the action's outcome arrived (or its failure, where the service fails)
    };

    // The actions in the order of the table, each with what the bare library work is.
    struct Action {
        QString name;
        QString bareWork; // empty: the action asks the service nothing
    };
    static const std::vector<Action>& actions();

    void add(const QString& action, Service service, const Sample& sample);
    void addBare(const QString& action, double ms);
    // Requests the user-interface thread made itself (refused there, as the program does).
    void addRefused(const QString& action, long long count);

    void print(const QString& heading) const;
    // Actions whose median stall reached the aim with some service, or whose ratio did.
    QStringList misses(double stallAimMs, double ratioAim) const;

private:
    static double median(std::vector<double> values);
    double worstStall(const QString& action, Service service) const;

    std::map<QString, std::vector<Sample>> window_[ServiceCount];
    std::map<QString, std::vector<double>> bare_;
    std::map<QString, long long> refused_;
};

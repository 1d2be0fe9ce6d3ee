#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The command line: a command word followed by --name value options. Every option takes a value.
struct CliOptions {
    QString command;
    QHash<QString, QString> values;

    // Nothing and a message in error when the line is malformed or names an option the command
    // does not take.
    static std::optional<CliOptions> parse(const QStringList& arguments, QString& error);

    QString value(const QString& name, const QString& fallback = QString()) const
    {
        return values.value(name, fallback);
    }
    bool has(const QString& name) const { return values.contains(name); }
};

// A 16-bit value within [low, high], or nothing.
std::optional<int> parseNumber(const QString& text, int low, int high);

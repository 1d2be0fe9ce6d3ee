#include "CliOptions.h"

namespace {

const QStringList CommonOptions = {"config-dir", "server", "data-port", "data-address"};

QStringList optionsOf(const QString& command)
{
    if (command == QLatin1String("register"))
        return CommonOptions + QStringList{"handle", "password", "email", "avatar", "mouth-left", "mouth-top"};
    if (command == QLatin1String("session"))
        return CommonOptions + QStringList{"handle", "password", "hostname", "status", "downloads", "history",
            "audio-in", "audio-out", "ring-seconds"};
    if (command == QLatin1String("bot"))
        return CommonOptions + QStringList{"handle", "password", "email"};
    return {};
}

} // namespace

std::optional<int> parseNumber(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<CliOptions> CliOptions::parse(const QStringList& arguments, QString& error)
{
    if (arguments.isEmpty()) {
        error = QStringLiteral("a command is needed: register, session or bot");
        return std::nullopt;
    }
    CliOptions options;
    options.command = arguments.first();
    const QStringList allowed = optionsOf(options.command);
    if (allowed.isEmpty()) {
        error = QStringLiteral("unknown command \"%1\"; use register, session or bot").arg(options.command);
        return std::nullopt;
    }
    for (qsizetype i = 1; i < arguments.size(); i += 2) {
        const QString& word = arguments[i];
        if (!word.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unexpected argument \"%1\"").arg(word);
            return std::nullopt;
        }
        const QString name = word.mid(2);
        if (!allowed.contains(name)) {
            error = QStringLiteral("%1 takes no option --%2").arg(options.command, name);
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            error = QStringLiteral("--%1 needs a value").arg(name);
            return std::nullopt;
        }
        options.values.insert(name, arguments[i + 1]);
    }
    for (const char* required : {"handle", "password"}) {
        if (!options.has(QLatin1String(required))) {
            error = QStringLiteral("%1 needs --%2").arg(options.command, QLatin1String(required));
            return std::nullopt;
        }
    }
    if (options.command == QLatin1String("register") && !options.has(QStringLiteral("email"))) {
        error = QStringLiteral("register needs --email");
        return std::nullopt;
    }
    return options;
}

#pragma once

#include <QString>

#include <string>
#include <vector>

// A throw-away PostgreSQL server for tests: initdb into a fresh temporary folder, started with
// pg_ctl, reachable only through a unix socket in that folder, fsync off. When the process runs
// as root, the server runs as "nobody" (PostgreSQL refuses root). The server is stopped and its
// folder removed when the object goes. Nothing here touches a system database.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The folder of initdb and pg_ctl; empty when PostgreSQL is not installed.
    static std::string binDirectory();
    // One server for the whole test process, started on first use; nullptr with a reason in
    // `error` when it cannot start.
    static PostgresServer* shared(QString& error);

    bool isRunning() const { return running_; }
    QString errorText() const { return error_; }

    // A new empty database: its connection URI, or an empty string (errorText() says why).
    QString createDatabase();
    // Runs SQL in the database the URI names; false (errorText() set) when it fails.
    bool execute(const QString& uri, const QString& sql);
    // A fast shutdown (every session is ended) and a start on the same data.
    bool restart();

private:
    bool start();
    void stop();
    // Runs a program to its end with its output going to the folder's log; true on exit code 0.
    bool run(const std::vector<std::string>& arguments, bool asServerUser);
    QString logTail() const;

    std::string bin_;
    std::string dir_;
    bool running_ = false;
    int databases_ = 0;
    QString error_;
};

// For a test that needs PostgreSQL: when `running` is false the test is skipped, saying `reason`,
// except under CI (CI=true), where it fails.
#define CONFABO_NEED_POSTGRES(running, reason)                                                                         \
    do {                                                                                                               \
        if (!(running)) {                                                                                              \
            if (qgetenv("CI") == "true")                                                                               \
                FAIL() << "PostgreSQL is needed under CI: " << (reason).toStdString();                                 \
            GTEST_SKIP() << "no PostgreSQL for this test: " << (reason).toStdString();                                 \
        }                                                                                                              \
    } while (false)

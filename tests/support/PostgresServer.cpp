#include "PostgresServer.h"

#include <QFile>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

constexpr const char* SocketPort = "5432"; // names the socket file; nothing listens on TCP
constexpr const char* ServerUser = "nobody";
constexpr const char* Superuser = "confabo";

// The server's settings: no TCP, the socket in the folder, no waiting for the disk.
std::string serverOptions(const std::string& dir)
{
    return "-c listen_addresses='' -k " + dir + " -p " + SocketPort
        + " -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=16MB"
          " -c max_connections=200";
}

} // namespace

std::string PostgresServer::binDirectory()
{
    namespace fs = std::filesystem;
    std::string best;
    int bestVersion = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const int version = std::atoi(entry.path().filename().c_str()); // the folders are named by version
        const std::string bin = (entry.path() / "bin").string();
        if (version > bestVersion && fs::exists(bin + "/initdb") && fs::exists(bin + "/pg_ctl")) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

PostgresServer* PostgresServer::shared(QString& error)
{
    static const std::unique_ptr<PostgresServer> server = std::make_unique<PostgresServer>();
    if (!server->isRunning()) {
        error = server->errorText();
        return nullptr;
    }
    return server.get();
}

PostgresServer::PostgresServer()
    : bin_(binDirectory())
{
    if (bin_.empty()) {
        error_ = QStringLiteral("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)");
        return;
    }
    char pattern[] = "/tmp/confabo-pg-XXXXXX";
    if (!mkdtemp(pattern)) {
        error_ = QStringLiteral("cannot make a temporary folder");
        return;
    }
    dir_ = pattern;
    if (geteuid() == 0) {
        const passwd* user = getpwnam(ServerUser);
        if (!user || chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) {
            error_ = QStringLiteral("cannot hand the temporary folder to the server's user");
            return;
        }
    }
    if (!run({bin_ + "/initdb", "-D", dir_ + "/data", "-A", "trust", "-U", Superuser, "--no-sync", "-E", "UTF8",
                 "--locale=C"},
            true)) {
        error_ = QStringLiteral("initdb failed: ") + logTail();
        return;
    }
    start();
}

PostgresServer::~PostgresServer()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool PostgresServer::start()
{
    running_ = run({bin_ + "/pg_ctl", "start", "-w", "-t", "60", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-o",
                       serverOptions(dir_)},
        true);
    if (!running_)
        error_ = QStringLiteral("the PostgreSQL server did not start: ") + logTail();
    return running_;
}

void PostgresServer::stop()
{
    if (running_)
        run({bin_ + "/pg_ctl", "stop", "-w", "-D", dir_ + "/data", "-m", "immediate"}, true);
    running_ = false;
}

bool PostgresServer::restart()
{
    running_ = run({bin_ + "/pg_ctl", "restart", "-w", "-t", "60", "-D", dir_ + "/data", "-m", "fast", "-l",
                       dir_ + "/server.log", "-o", serverOptions(dir_)},
        true);
    if (!running_)
        error_ = QStringLiteral("the PostgreSQL server did not restart: ") + logTail();
    return running_;
}

QString PostgresServer::createDatabase()
{
    const std::string name = "test" + std::to_string(++databases_);
    const QString uri = QString::fromStdString(
        std::string("postgresql://") + Superuser + "@/" + name + "?host=" + dir_ + "&port=" + SocketPort);
    const QString postgres
        = QString(uri).replace(QString::fromStdString("/" + name + "?"), QStringLiteral("/postgres?"));
    if (!execute(postgres, QString::fromStdString("CREATE DATABASE " + name)))
        return {};
    return uri;
}

bool PostgresServer::execute(const QString& uri, const QString& sql)
{
    if (!running_) {
        error_ = QStringLiteral("the PostgreSQL server is not running");
        return false;
    }
    if (!run({bin_ + "/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", uri.toStdString(), "-c", sql.toStdString()},
            false)) {
        error_ = QStringLiteral("psql failed: ") + logTail();
        return false;
    }
    return true;
}

bool PostgresServer::run(const std::vector<std::string>& arguments, bool asServerUser)
{
    std::vector<std::string> command;
    if (asServerUser && geteuid() == 0)
        command = {"/usr/sbin/runuser", "-u", ServerUser, "--"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    const std::string log = dir_ + "/commands.log";

    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        if (chdir(dir_.c_str()) != 0) // the server's user may not enter the test's own folder
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QString PostgresServer::logTail() const
{
    QFile file(QString::fromStdString(dir_ + "/commands.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no output)");
    return QString::fromLocal8Bit(file.readAll().right(600)).trimmed();
}

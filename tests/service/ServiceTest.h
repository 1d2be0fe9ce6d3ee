#pragma once

#include "PostgresServer.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>
#include <string>

// Where the service under test keeps its data.
enum class Store { Sqlite, Postgres };

inline std::string storeName(const ::testing::TestParamInfo<Store>& info)
{
    return info.param == Store::Sqlite ? "Sqlite" : "Postgres";
}

// Runs every test of a suite derived from ServiceTest once on each store.
#define CONFABO_ON_EVERY_STORE(Suite)                                                                                  \
    INSTANTIATE_TEST_SUITE_P(Stores, Suite, ::testing::Values(Store::Sqlite, Store::Postgres), storeName)

// A fresh service with an empty database for each test (a temporary SQLite file, or a new
// database on the test process's own PostgreSQL server), and helpers for the common requests.
// "127.0.0.2" plays a second machine.
class ServiceTest : public ::testing::TestWithParam<Store> {
public:
    static constexpr const char* Home = "127.0.0.1";
    static constexpr const char* Foreign = "127.0.0.2";

    // The multipart upload exactly as the clients build it: the header announces the boundary,
    // the delimiter lines put 29 hyphens before it.
    static QByteArray avatarBody(const QByteArray& picture, int userId, int hyphens = 29, bool closing = true)
    {
        const QByteArray delim = QByteArray(hyphens, '-') + "7d1f5a80420";
        QByteArray body = delim + "\r\n";
        body += "Content-Disposition: form-data; name=\"mode\"\r\n\r\nAVATAR_UPDATE\r\n";
        body += delim + "\r\n";
        body += "Content-Disposition: form-data; name=\"user_id\"\r\n\r\n" + QByteArray::number(userId) + "\r\n";
        body += delim + "\r\n";
        body += "Content-Disposition: form-data; name=\"avatar\"; filename=\"c:\\temp.gif\"\r\n";
        body += "Content-Type: image/gif \r\n\r\n";
        body += picture + "\r\n";
        if (closing)
            body += delim + "--";
        return body;
    }

    // A GIF header followed by CR LF pairs, hyphens and the boundary inside a line (not a
    // delimiter), then every byte value.
    static QByteArray awkwardPicture(int size)
    {
        QByteArray bytes = "GIF89a";
        bytes += "\r\n\r\nx-----------------------------7d1f5a80420--\r\n--\r\n";
        for (int i = 0; bytes.size() < size; ++i)
            bytes += char(i & 0xff);
        bytes.truncate(size);
        return bytes;
    }

protected:
    void SetUp() override
    {
        QString database;
        if (GetParam() == Store::Postgres) {
            QString error;
            PostgresServer* server = PostgresServer::shared(error);
            CONFABO_NEED_POSTGRES(server, error);
            database = server->createDatabase();
            ASSERT_FALSE(database.isEmpty()) << server->errorText().toStdString();
        }
        service_ = std::make_unique<ServiceProcess>(serviceArguments(), database);
        ASSERT_TRUE(service_->isRunning()) << service_->errorText().toStdString();
        client_ = std::make_unique<ServiceClient>(service_->port());
    }

    // Options for the service of each test, beyond the database, the port and --quiet.
    virtual QStringList serviceArguments() const { return {}; }

    ServiceClient& client() { return *client_; }
    ServiceProcess& service() { return *service_; }

    ServiceReply post(std::initializer_list<std::pair<const char*, QString>> fields, const char* from = Home)
    {
        return client_->post(formBody(fields), from);
    }

    // Registers and returns the new user id (0 when refused).
    int registerUser(const QString& handle, const QString& password = QStringLiteral("0123456789ABCDEF"),
        const QString& email = {}, const char* from = Home)
    {
        const ServiceReply reply
            = post({{"mode", QStringLiteral("USER_INSERT")}, {"handle", handle}, {"password", password},
                       {"email", email}, {"mouth_top", QStringLiteral("0")}, {"mouth_left", QStringLiteral("0")}},
                from);
        return reply.text("/body").toInt();
    }

    ServiceReply login(const QString& handle, const QString& password = QStringLiteral("0123456789ABCDEF"),
        const QString& ip = {}, const char* from = Home)
    {
        return post({{"mode", QStringLiteral("LOGIN")}, {"handle", handle}, {"password", password}, {"ip", ip}}, from);
    }

    // Registers and signs in from `from`; returns the user id.
    int signedInUser(const QString& handle, const QString& email = {}, const char* from = Home)
    {
        const int id = registerUser(handle, QStringLiteral("0123456789ABCDEF"), email, from);
        EXPECT_GT(id, 0) << handle.toStdString();
        EXPECT_FALSE(login(handle, QStringLiteral("0123456789ABCDEF"), {}, from).empty());
        return id;
    }

    // Runs SQL straight on the service's database, beside the running service, as an older
    // version or an operator might have written it; false when it fails.
    bool executeInStore(const QString& sql)
    {
        if (GetParam() == Store::Postgres) {
            QString error;
            PostgresServer* server = PostgresServer::shared(error);
            return server && server->execute(service_->databasePath(), sql);
        }
        sqlite3* db = nullptr;
        bool done = sqlite3_open(qPrintable(service_->databasePath()), &db) == SQLITE_OK
            && sqlite3_busy_timeout(db, 5000) == SQLITE_OK;
        done = done && sqlite3_exec(db, qPrintable(sql), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return done;
    }

    ServiceReply byId(const char* mode, int userId, const char* from = Home)
    {
        return post({{"mode", QString::fromLatin1(mode)}, {"user_id", QString::number(userId)}}, from);
    }

    ServiceReply uploadAvatar(const QByteArray& picture, int userId, const char* from = Home)
    {
        return client_->postWithType(avatarBody(picture, userId), "multipart/form-data; boundary=7d1f5a80420", from);
    }

    std::unique_ptr<ServiceProcess> service_;
    std::unique_ptr<ServiceClient> client_;
};

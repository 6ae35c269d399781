#pragma once

#include <QString>

// Where a fleet store on a PostgreSQL server is, as the operator writes it:
//
//   postgresql://user@host[:port]/database
//   postgresql://user@/database?host=/run/postgresql   (a socket folder)
//
// The password never travels in the address: the server's client library
// takes it from ~/.pgpass or PGPASSWORD. An address that holds one is
// refused, and no message repeats it.
namespace fleet {

struct PostgresAddress
{
    QString user;     // empty: the system user's name, as the client library does
    QString host;     // a name, an address, or a socket folder (starting with '/'); empty: the default socket
    int port = 0;     // 0: the default
    QString database; // never empty
    QString sslMode;  // empty: the client library's default
    int connectTimeout = 10; // seconds

    // The address without anything secret, for messages and the report.
    QString display() const;
    // The options the client library takes beside host, port, user and database.
    QString connectOptions() const;
};

// Whether `location` names a server (postgresql:// or postgres://) rather than a file.
bool isPostgresLocation(const QString& location);

// Throws StoreError (Other) for an address that is malformed or holds a
// password; the message shows the address with the password left out.
PostgresAddress parsePostgresAddress(const QString& location);

} // namespace fleet

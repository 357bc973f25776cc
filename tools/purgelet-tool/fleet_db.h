// A small owner of libpq's connection and results, for the fleet database: the connection
// string goes to libpq as given (service files, PGPASSFILE, PG* variables and TLS work as
// libpq offers them), every statement takes its values as parameters, and a failure is told
// in one line that never holds the password.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace purgelet::tool::fleet {

// A statement's parameter: a value as text, or none (SQL NULL).
using TParam = std::optional<std::string>;
using TParams = std::vector<TParam>;

class TResult {
public:
    TResult() = default;
    explicit TResult(PGresult* result) : result_(result) {}

    bool Ok() const; // a command that completed, or rows returned
    // The SQLSTATE of a failure ("40P01" a deadlock), empty when none was given.
    std::string SqlState() const;
    int Rows() const { return result_ ? PQntuples(result_.get()) : 0; }
    // The rows a command changed (an INSERT ... ON CONFLICT DO NOTHING: 0 or 1).
    long Affected() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const;                 // "" for NULL
    std::optional<std::string> Value(int row, int column) const; // nullopt for NULL

private:
    struct TClear {
        void operator()(PGresult* result) const { PQclear(result); }
    };
    std::unique_ptr<PGresult, TClear> result_;
};

class TConnection {
public:
    // Connects with conninfo as libpq takes it; Connected() tells whether it did, and
    // LastError() why not.
    explicit TConnection(const std::string& conninfo);
    bool Connected() const { return conn_ && PQstatus(conn_.get()) == CONNECTION_OK; }

    // One statement with its parameters; LastError() says why a result is not Ok().
    TResult Exec(const std::string& sql, const TParams& params = {});
    bool Prepare(const std::string& name, const std::string& sql, int parameters);
    TResult ExecPrepared(const std::string& name, const TParams& params);
    // A statement whose result is only its success ("BEGIN", "COMMIT"); false and LastError.
    bool Run(const std::string& sql);

    // What failed last, on one line, with the connection string's password masked.
    const std::string& LastError() const { return error_; }

private:
    void Failed(const TResult& result);

    struct TFinish {
        void operator()(PGconn* conn) const { PQfinish(conn); }
    };
    std::unique_ptr<PGconn, TFinish> conn_;
    std::vector<std::string> secrets_; // what must never be printed: the password
    std::string error_;
};

// libpq's message on one line (its lines joined with "; "), every secret masked.
std::string OneLine(const std::string& message, const std::vector<std::string>& secrets);
// The passwords a connection string holds, as libpq reads it, or as far as it can be read
// when libpq refuses it (so that its own complaint about the string may be masked).
std::vector<std::string> SecretsOf(const std::string& conninfo);

} // namespace purgelet::tool::fleet

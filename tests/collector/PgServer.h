// A throwaway PostgreSQL 15 for the tests and the benchmark: a cluster made
// by initdb in a temporary folder, its server listening on a unix socket
// there and on no TCP port, stopped and removed at the end (and killed with
// the process that started it, if that dies first). PostgreSQL refuses to
// run as root: under root, initdb and the server run as "nobody".
#pragma once
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/TempDir.h"

namespace pgtest {

inline constexpr const char* Bin = "/usr/lib/postgresql/15/bin/";

class PgServer {
  public:
    // Makes the cluster and starts it; error() says why when it could not.
    PgServer() {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody) {
                unavailable_ = "running as root and there is no user \"nobody\" to run PostgreSQL";
                return;
            }
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
        }
        // Entered by the unprivileged user whatever the umask.
        std::filesystem::permissions(folder_.path(), std::filesystem::perms(0755));
        std::filesystem::create_directory(socket());
        if (::geteuid() == 0 && ::chown(socket().c_str(), uid_, gid_) != 0) {
            error_ = "cannot give " + socket().string() + " to nobody";
            return;
        }
        const int rc =
            wait(spawn({std::string(Bin) + "initdb", "-D", data().string(), "-U", "postgres",
                        "--auth=trust", "-E", "UTF8", "--locale=C", "--no-sync"},
                       "initdb.log"));
        if (rc != 0) {
            error_ = "initdb failed (" + std::to_string(rc) + "):\n" + log("initdb.log");
            return;
        }
        start();
    }
    ~PgServer() {
        if (pid_ > 0)
            end(SIGQUIT);  // immediate: nothing here is kept
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Empty when the server runs; "unavailable" is set when it cannot be had
    // on this machine at all (a reason to skip, not to fail).
    const std::string& error() const { return error_; }
    const std::string& unavailable() const { return unavailable_; }

    // Starts the server (again) and waits until it takes connections.
    bool start() {
        if (pid_ > 0)
            return true;
        pid_ = spawn({std::string(Bin) + "postgres", "-D", data().string(), "-k", socket().string(),
                      "-c", "listen_addresses=", "-c", "max_connections=40"},
                     "server.log");
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (PQping(url().c_str()) != PQPING_OK) {
            if (std::chrono::steady_clock::now() > end || ::waitpid(pid_, nullptr, WNOHANG) != 0) {
                error_ = "the server did not start:\n" + log("server.log");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        error_.clear();
        return true;
    }
    // A fast shutdown (sessions ended, everything committed kept).
    void stop() { end(SIGINT); }

    std::string url(const std::string& database = "postgres") const {
        return "postgresql://postgres@/" + database + "?host=" + socket().string();
    }

    // The first column of each row of a query in database, or the error
    // as the one value.
    std::vector<std::string> query(const std::string& sql,
                                   const std::string& database = "postgres") const {
        std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb(url(database).c_str()), PQfinish);
        std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(c.get(), sql.c_str()), PQclear);
        const auto status = PQresultStatus(r.get());
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            return {"error: " + std::string(PQerrorMessage(c.get()))};
        std::vector<std::string> out;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            out.emplace_back(PQgetvalue(r.get(), i, 0));
        return out;
    }
    // A fresh database; its URL.
    std::string database(const std::string& name) {
        query("CREATE DATABASE " + name);
        return url(name);
    }

    std::string log(const std::string& name = "server.log") const {
        std::ifstream in(socket() / name);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    // The folder of its socket (the "host" of a URL).
    std::filesystem::path socket() const { return folder_.path() / "pg"; }

  private:
    std::filesystem::path data() const { return socket() / "data"; }

    // A child that becomes the unprivileged user, dies with this thread and
    // writes into logName in the socket's folder.
    pid_t spawn(const std::vector<std::string>& args, const std::string& logName) const {
        const std::string logFile = (socket() / logName).string();
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))
                ::_exit(126);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // after setuid, which clears it
            if (::getppid() != parent)
                ::_exit(125);
            const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }
    static int wait(pid_t pid) {
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void end(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        wait(pid_);
        pid_ = -1;
    }

    fakes::TempFolder folder_;
    uid_t uid_ = ::geteuid();
    gid_t gid_ = ::getegid();
    pid_t pid_ = -1;
    std::string error_, unavailable_;
};

}  // namespace pgtest

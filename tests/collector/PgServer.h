// A throwaway PostgreSQL 15 for the tests and the benchmark: initdb in a
// temporary folder, the server on a unix socket there and no TCP port,
// killed with the thread that started it, removed at the end. PostgreSQL
// refuses root: under root, both run as "nobody".
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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/TempDir.h"

namespace pgtest {

class PgServer {
  public:
    PgServer() {
        const passwd* nobody = ::getpwnam("nobody");
        if (root_ && !nobody) {
            error_ = "running as root, and no user \"nobody\" to run PostgreSQL as";
            return;
        }
        std::filesystem::permissions(folder_.path(), std::filesystem::perms(0755));
        std::filesystem::create_directory(socket());
        if (root_ && ::chown(socket().c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            error_ = "cannot give " + socket() + " to nobody";
        else if (wait(spawn({"initdb", "-D", data(), "-U", "postgres", "--auth=trust", "-E", "UTF8",
                             "--locale=C", "--no-sync"})) != 0)
            error_ = "initdb failed:\n" + log();
        else
            start();
    }
    ~PgServer() { end(SIGQUIT); }  // immediate: nothing here is kept
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Why it does not run; empty when it does.
    const std::string& error() const { return error_; }

    // Starts the server (again); waits until it takes connections.
    bool start() {
        pid_ = spawn({"postgres", "-D", data(), "-k", socket(), "-c", "listen_addresses="});
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (PQping(url().c_str()) != PQPING_OK) {
            if (std::chrono::steady_clock::now() > end || ::waitpid(pid_, nullptr, WNOHANG) != 0) {
                pid_ = -1;
                error_ = "the server did not start:\n" + log();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    void stop() { end(SIGINT); }  // fast: sessions ended, what is committed kept

    std::string url(const std::string& database = "postgres") const {
        return "postgresql://postgres@/" + database + "?host=" + socket();
    }
    // The folder of its socket (a URL's host).
    std::string socket() const { return (folder_.path() / "pg").string(); }

    // The first column of each row, or the error as the one value.
    std::vector<std::string> query(const std::string& sql) const {
        std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb(url().c_str()), PQfinish);
        std::unique_ptr<PGresult, void (*)(PGresult*)> r(PQexec(c.get(), sql.c_str()), PQclear);
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK &&
            PQresultStatus(r.get()) != PGRES_COMMAND_OK)
            return {"error: " + std::string(PQerrorMessage(c.get()))};
        std::vector<std::string> out;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            out.emplace_back(PQgetvalue(r.get(), i, 0));
        return out;
    }
    // What initdb and the server said.
    std::string log() const {
        std::ifstream in(socket() + "/log");
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

  private:
    std::string data() const { return socket() + "/data"; }

    // A program of PostgreSQL's, as the unprivileged user, into the log.
    pid_t spawn(std::vector<std::string> args) const {
        args[0] = "/usr/lib/postgresql/15/bin/" + args[0];
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string logFile = socket() + "/log";
        const passwd* nobody = root_ ? ::getpwnam("nobody") : nullptr;
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (nobody && (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                           ::setuid(nobody->pw_uid) != 0))
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
        return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)
                   ? WEXITSTATUS(status)
                   : -1;
    }
    void end(int signal) {
        if (pid_ > 0 && ::kill(pid_, signal) == 0)
            wait(pid_);
        pid_ = -1;
    }

    bool root_ = ::geteuid() == 0;
    fakes::TempFolder folder_;
    pid_t pid_ = -1;
    std::string error_;
};

}  // namespace pgtest

// phonesim: a simulated iPhone for tests of the device path.
//
//   phonesim serve [--port N | --unix PATH] [--control-port N] [--pair-records DIR] --phone DIR...
//   phonesim run   [same options] -- COMMAND [ARGS...]
//   phonesim seed  --phone DIR [--chat-folder DIR] [--name N] [--udid U] [--product-version V] [--app A]
//                  [--product-type T] [--country CC] [--password PW] [--rounds N]
//                  [--sp-client-version V] [--old-layout] [--icloud] [--find-my] [--pairing MODE]
//   phonesim ctl   [--control ADDR] COMMAND...
#include "controlchannel.h"
#include "log.h"
#include "phone.h"
#include "phoneseeder.h"
#include "simulator.h"
#include "usbmuxserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr,
        "usage:\n"
        "  phonesim serve [--port N | --unix PATH] [--control-port N] [--pair-records DIR] --phone DIR...\n"
        "  phonesim run   [serve options] -- COMMAND [ARGS...]\n"
        "  phonesim seed  --phone DIR [--chat-folder DIR] [--name N] [--udid U] [--product-version V]\n"
        "                 [--product-type T] [--country CC] [--password PW] [--rounds N]\n"
        "                 [--sp-client-version V] [--old-layout] [--icloud] [--find-my] [--pairing trust|pending|deny]\n"
        "                 [--app whatsapp|business|both]\n"
        "  phonesim ctl   [--control ADDR] COMMAND...\n");
    return 2;
}

struct ServeOptions {
    int port = 0;
    std::string unixPath;
    int controlPort = 0;
    std::string pairRecords;
    std::vector<std::string> phones;
    std::vector<std::string> command;
};

bool parseServe(int argc, char** argv, int start, ServeOptions& o, bool allowCommand)
{
    for (int i = start; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--") {
            if (!allowCommand)
                return false;
            for (++i; i < argc; ++i)
                o.command.push_back(argv[i]);
            break;
        }
        const char* v = next();
        if (!v)
            return false;
        if (a == "--port")
            o.port = std::atoi(v);
        else if (a == "--unix")
            o.unixPath = v;
        else if (a == "--control-port")
            o.controlPort = std::atoi(v);
        else if (a == "--pair-records")
            o.pairRecords = v;
        else if (a == "--phone")
            o.phones.push_back(v);
        else
            return false;
    }
    return !o.phones.empty() && (!allowCommand || !o.command.empty());
}

struct Running {
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<UsbmuxServer> mux;
    std::unique_ptr<ControlChannel> control;
};

bool start(const ServeOptions& o, Running& r, std::string& error)
{
    std::string records = o.pairRecords;
    if (records.empty()) {
        char tmpl[] = "/tmp/phonesim-records-XXXXXX";
        if (!::mkdtemp(tmpl)) {
            error = "cannot create a folder for pair records";
            return false;
        }
        records = tmpl;
    }
    r.sim = std::make_unique<Simulator>(records);
    for (const std::string& folder : o.phones) {
        auto phone = Phone::open(folder, error);
        if (!phone)
            return false;
        if (r.sim->findByUdid(phone->udid())) {
            error = "two phones share the UDID " + phone->udid();
            return false;
        }
        r.sim->addPhone(std::move(phone));
    }
    r.mux = std::make_unique<UsbmuxServer>(*r.sim);
    if (!(o.unixPath.empty() ? r.mux->listenTcp(static_cast<uint16_t>(o.port), error)
                             : r.mux->listenUnix(o.unixPath, error)))
        return false;
    r.control = std::make_unique<ControlChannel>(*r.sim);
    if (!r.control->listen(static_cast<uint16_t>(o.controlPort), error))
        return false;
    std::thread([m = r.mux.get()] { m->serve(); }).detach();
    std::thread([c = r.control.get()] { c->serve(); }).detach();
    return true;
}

int serve(int argc, char** argv)
{
    ServeOptions o;
    if (!parseServe(argc, argv, 2, o, false))
        return usage();
    Running r;
    std::string error;
    if (!start(o, r, error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return 1;
    }
    std::printf("USBMUXD_SOCKET_ADDRESS=%s\nPHONESIM_CONTROL=%s\n", r.mux->address().c_str(),
                r.control->address().c_str());
    std::fflush(stdout);
    r.control->serveStream(stdin, stdout);
    // Input ended: go on serving until a signal ends the process.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int sig = 0;
    sigwait(&set, &sig);
    r.mux->stop();
    return 0;
}

int run(int argc, char** argv)
{
    ServeOptions o;
    if (!parseServe(argc, argv, 2, o, true))
        return usage();
    // The child's signals are handled here: Ctrl-C or a timeout ends the command's whole group.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    Running r;
    std::string error;
    if (!start(o, r, error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return 1;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("phonesim: fork");
        return 1;
    }
    if (child == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::setenv("USBMUXD_SOCKET_ADDRESS", r.mux->address().c_str(), 1);
        ::setenv("PHONESIM_CONTROL", r.control->address().c_str(), 1);
        std::vector<char*> args;
        for (auto& a : o.command)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "phonesim: cannot run %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    ::setpgid(child, child);
    int status = 0;
    for (;;) {
        int sig = 0;
        sigwait(&set, &sig);
        if (sig == SIGCHLD) {
            if (::waitpid(child, &status, WNOHANG) == child)
                break;
            continue;
        }
        ::kill(-child, SIGTERM);
        ::waitpid(child, &status, 0);
        break;
    }
    ::kill(-child, SIGKILL); // whatever the command left running in its group
    r.mux->stop();
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

int seed(int argc, char** argv)
{
    SeedOptions o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--old-layout") { o.oldLayout = true; continue; }
        if (a == "--icloud") { o.cloudBackup = true; continue; }
        if (a == "--find-my") { o.findMyIphone = true; continue; }
        if (i + 1 >= argc)
            return usage();
        const std::string v = argv[++i];
        if (a == "--phone") o.phoneFolder = v;
        else if (a == "--chat-folder") o.chatFolder = v;
        else if (a == "--name") o.name = v;
        else if (a == "--udid") o.udid = v;
        else if (a == "--product-version") o.productVersion = v;
        else if (a == "--product-type") o.productType = v;
        else if (a == "--country") o.countryCode = v;
        else if (a == "--password") o.password = v;
        else if (a == "--rounds") o.rounds = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--sp-client-version") o.spClientVersion = v;
        else if (a == "--pairing") o.pairingMode = v;
        else if (a == "--app" && (v == "whatsapp" || v == "business" || v == "both")) o.app = v;
        else return usage();
    }
    if (o.phoneFolder.empty())
        return usage();
    std::string error;
    if (!PhoneSeeder::seed(o, error)) {
        std::fprintf(stderr, "phonesim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int ctl(int argc, char** argv)
{
    int i = 2;
    std::string address = std::getenv("PHONESIM_CONTROL") ? std::getenv("PHONESIM_CONTROL") : "";
    if (i + 1 < argc && std::string(argv[i]) == "--control") {
        address = argv[i + 1];
        i += 2;
    }
    if (address.empty() || i >= argc) {
        std::fprintf(stderr, "phonesim ctl: no control address (PHONESIM_CONTROL) or no command\n");
        return 2;
    }
    std::string line;
    for (; i < argc; ++i)
        line += (line.empty() ? "" : " ") + std::string(argv[i]);
    std::string reply;
    if (!ControlChannel::send(address, line, reply)) {
        std::fprintf(stderr, "phonesim ctl: cannot reach %s\n", address.c_str());
        return 1;
    }
    std::printf("%s\n", reply.c_str());
    return reply.rfind("ok", 0) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return usage();
    const std::string cmd = argv[1];
    if (cmd == "serve")
        return serve(argc, argv);
    if (cmd == "run")
        return run(argc, argv);
    if (cmd == "seed")
        return seed(argc, argv);
    if (cmd == "ctl")
        return ctl(argc, argv);
    return usage();
}

// iscsi-target CONFIG: serves the configured emulated drives over iSCSI until SIGINT or SIGTERM.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "emulator/iscsi/IscsiTargetSet.h"
#include "emulator/iscsi/TargetConfig.h"
#include "emulator/iscsi/TargetServer.h"

namespace {

int stopPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Nothing to do when the pipe is full: the loop is already on its way out.
    const ssize_t ignored = write(stopPipe[1], &byte, 1);
    (void)ignored;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: iscsi-target CONFIG\n");
        return 2;
    }
    emulator::TargetConfig config;
    if (!config.Load(argv[1])) {
        fprintf(stderr, "%s: %s\n", argv[1], config.Error().c_str());
        return 2;
    }
    emulator::IscsiTargetSet targets;
    if (!config.LogPath.empty() && !targets.Log().Open(config.LogPath)) {
        fprintf(stderr, "%s: cannot write %s\n", argv[1], config.LogPath.c_str());
        return 2;
    }
    for (const auto& drive : config.Drives) {
        std::string problem;
        if (!targets.Add(drive, problem)) {
            fprintf(stderr, "%s: %s\n", argv[1], problem.c_str());
            return 2;
        }
    }
    if (pipe(stopPipe) != 0) {
        perror("pipe");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    emulator::TargetServer server(targets, config.Limits);
    std::string problem;
    if (!server.Listen(config.ListenHost, config.ListenPort, problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    const bool v6 = config.ListenHost.find(':') != std::string::npos;
    printf("listening on %s%s%s:%u\n", v6 ? "[" : "", config.ListenHost.c_str(), v6 ? "]" : "", server.Port());
    fflush(stdout);
    const emulator::TargetConfig::ServerLimits& limits = config.Limits;
    targets.Log().Line("listening on %s:%u, %zu targets; max-connections=%u login-timeout=%u nop-interval=%u",
                       config.ListenHost.c_str(), server.Port(), targets.Targets().size(), limits.MaxConnections,
                       limits.LoginTimeoutSeconds, limits.NopIntervalSeconds);

    server.Run(stopPipe[0]);
    const bool saved = targets.SaveAll();
    targets.Log().Line("stopped%s", saved ? "" : "; a flash file or log could not be written");
    return saved ? 0 : 1;
}

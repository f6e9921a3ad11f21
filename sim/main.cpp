// cardsim: serves one or many virtual cards on loopback addresses until it
// is told to stop (SIGTERM or SIGINT).
#include <csignal>
#include <cstdio>
#include <string>

#include "options.h"
#include "server.h"

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--help") {
      std::fputs(sim::Usage().c_str(), stdout);
      return 0;
    }
  sim::Options options;
  std::string error;
  if (!sim::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "cardsim: %s\n%s", error.c_str(), sim::Usage().c_str());
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  sim::Server server(options);
  if (!server.Start(&error)) {
    std::fprintf(stderr, "cardsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  server.Run(g_stop);
  return 0;
}

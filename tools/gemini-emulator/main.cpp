// Runs the Gemini API emulator until SIGINT or SIGTERM, for the demo and benchmarks.
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/gemini-emulator/GeminiEmulator.h"

namespace {

int Usage(const char* AProgram) {
  std::fprintf(stderr,
               "usage: %s [--port N] [--tls] [--print-port] [--log] [--delay-ms N] [--event-gap-ms N]\n"
               "       [--inline-limit N]\n"
               "Serves the Gemini API emulator on 127.0.0.1 (port 0 or none: a free port).\n"
               "Prints \"listening <base url>\"; with --tls then \"ca <file>\", the CA to trust;\n"
               "with --print-port then the bare port number. --log writes each request to stderr;\n"
               "--delay-ms makes every answer wait that long; --event-gap-ms waits that long between\n"
               "the events of a streamed answer; --inline-limit refuses inline data above N Base64\n"
               "bytes as the service does (20971520 is the service's limit).\n",
               AProgram);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, delayMs = 0, gapMs = 0;
  long inlineLimit = 0;
  bool tls = false, printPort = false, log = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--inline-limit" && i + 1 < argc) {
      char* end = nullptr;
      inlineLimit = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || inlineLimit < 0) return Usage(argv[0]);
    } else if ((arg == "--port" || arg == "--delay-ms" || arg == "--event-gap-ms") && i + 1 < argc) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      const long most = arg == "--port" ? 65535 : 3600000;
      if (*end != '\0' || value < 0 || value > most) return Usage(argv[0]);
      (arg == "--port" ? port : arg == "--delay-ms" ? delayMs : gapMs) = static_cast<int>(value);
    } else if (arg == "--tls") {
      tls = true;
    } else if (arg == "--print-port") {
      printPort = true;
    } else if (arg == "--log") {
      log = true;
    } else {
      return Usage(argv[0]);
    }
  }

  // Block the signals before any server thread exists, so only sigwait sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    tarvok::emulator::TGeminiEmulator emulator(tls);
    if (log) {
      emulator.SetRequestObserver([](const tarvok::emulator::TRecordedRequest& ARequest) {
        std::fprintf(stderr, "%s %s%s%s (%zu bytes)\n", ARequest.Method.c_str(), ARequest.Path.c_str(),
                     ARequest.Query.empty() ? "" : "?", ARequest.Query.c_str(), ARequest.Body.size());
      });
    }
    emulator.SetRecordBodies(false);
    emulator.SetDefaultDelay(std::chrono::milliseconds(delayMs));
    emulator.SetDefaultEventGap(std::chrono::milliseconds(gapMs));
    emulator.SetInlineDataLimit(static_cast<std::size_t>(inlineLimit));
    emulator.Start(port);
    std::printf("listening %s\n", emulator.BaseUrl().c_str());
    if (tls) std::printf("ca %s\n", emulator.CaCertFile().c_str());
    if (printPort) std::printf("%d\n", emulator.Port());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    emulator.Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gemini-emulator: %s\n", e.what());
    return 1;
  }
  return 0;
}

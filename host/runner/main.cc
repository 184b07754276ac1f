// veldrane-host: the reference host runner. Loads Veldrane.so as a host does and drives it.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/loader/driver_module.h"
#include "host/rt/event_log_api.h"

namespace {

void Usage(std::FILE* out) {
  std::fprintf(out,
               "Usage: veldrane-host [--driver PATH] COMMAND\n"
               "\n"
               "Loads the Veldrane driver into the reference host and drives it.\n"
               "\n"
               "Commands:\n"
               "  version        print the driver's version and name, and open a missing file\n"
               "                 to show an event-log line\n"
               "\n"
               "Options:\n"
               "  --driver PATH  the driver module (default: ../lib/Veldrane.so beside this "
               "program)\n"
               "  -h, --help     this help\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string driver_path = veldrane::host::DefaultDriverPath();
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "--driver" && i + 1 < argc) {
      driver_path = argv[++i];
    } else if (command.empty() && arg[0] != '-') {
      command = arg;
    } else {
      std::fprintf(stderr, "veldrane-host: unexpected argument '%s'\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (command.empty()) command = "version";
  if (command != "version") {
    std::fprintf(stderr, "veldrane-host: unknown command '%s'\n", command.c_str());
    Usage(stderr);
    return 2;
  }

  veldrane::host::DriverModule driver;
  std::string error;
  if (!driver.Load(driver_path, &error)) {
    std::fprintf(stderr, "veldrane-host: %s\n", error.c_str());
    return 1;
  }
  EventLogSetConsole(1);
  int32_t version = driver.GetVersion();
  std::printf("driver   %s\n", driver_path.c_str());
  std::printf("name     %s\n", driver.GetName());
  std::printf("version  %d.%d (0x%08X)\n", version >> 16, version & 0xFFFF,
              static_cast<unsigned>(version));
  const char* missing = "/nonexistent/demo.cfg";
  std::fflush(stdout);
  std::printf("DrvOpen(\"%s\") = %d (the event log shows why)\n", missing, driver.Open(missing));
  driver.Unload();
  return 0;
}

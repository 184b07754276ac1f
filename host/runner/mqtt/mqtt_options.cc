#include "host/runner/mqtt/mqtt_options.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/text/display_text.h"
#include "platform/text/whole_number.h"

namespace veldrane::host {

const char* const kMqttUsage =
    "  --mqtt URL        take values from an MQTT broker and publish each station's state:\n"
    "                    mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (TLS, 8883)\n"
    "  --mqtt-ca FILE    the CA certificates for mqtts:// (default: the system's)\n"
    "  --mqtt-auth FILE  user name on the first line, password on the second\n"
    "  --mqtt-prefix P   values come on P/TAG (default veldrane/values); states go to\n"
    "                    P/../status/NAME/LINE/STATION, and P/../status/NAME says online\n"
    "  --mqtt-name NAME  the runner's name in the status topics (default: the host name)\n";

bool ParseBrokerUrl(const std::string& url, BrokerAddress* broker, std::string* error) {
  BrokerAddress b;
  std::string shown = platform::Excerpt(url, 200);
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
    b.port = 1883;
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    b.tls = true;
    b.port = 8883;
  } else {
    *error =
        "the broker's address is mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not '" + shown + "'";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find('@') != std::string::npos) {
    *error = "give the user and password in a file with --mqtt-auth, not in the address";
    return false;
  }
  // HOST, HOST:PORT, [IPV6] or [IPV6]:PORT.
  size_t host_end = rest.find(':');
  size_t after_host = host_end;
  if (!rest.empty() && rest[0] == '[') {
    host_end = rest.find(']');
    after_host = host_end == std::string::npos ? host_end : host_end + 1;
    b.host = rest.substr(1, host_end == std::string::npos ? 0 : host_end - 1);
  } else {
    b.host = rest.substr(0, host_end);
  }
  if (b.host.empty() || b.host.find_first_of("/?# ") != std::string::npos) {
    *error = "no host name in '" + shown + "'";
    return false;
  }
  if (after_host != std::string::npos && after_host < rest.size()) {
    std::string port = rest.substr(after_host);
    long n = 0;
    if (port[0] != ':' ||
        !platform::ParseWholeNumber(std::string_view(port).substr(1), 1, 65535, &n)) {
      *error = "expected :PORT (1 to 65535) after the host in '" + shown + "'";
      return false;
    }
    b.port = static_cast<int>(n);
  }
  *broker = b;
  return true;
}

namespace {

bool IsUtf8(const std::string& text) {
  return mosquitto_validate_utf8(text.c_str(), static_cast<int>(text.size())) == MOSQ_ERR_SUCCESS;
}

}  // namespace

bool IsMqttOption(const std::string& option) {
  return option == "--mqtt" || option == "--mqtt-ca" || option == "--mqtt-auth" ||
         option == "--mqtt-prefix" || option == "--mqtt-name";
}

bool SetMqttOption(const std::string& option, const std::string& value, MqttOptions* options,
                   std::string* error) {
  if (option == "--mqtt") {
    options->url = value;
    return ParseBrokerUrl(value, &options->broker, error);
  }
  if (option == "--mqtt-ca") {
    options->ca_file = value;
  } else if (option == "--mqtt-auth") {
    options->auth_file = value;
  } else if (option == "--mqtt-prefix") {
    std::string prefix = value;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    if (prefix.empty() || prefix.find_first_of("+#") != std::string::npos || !IsUtf8(prefix)) {
      *error = "--mqtt-prefix takes topic levels in UTF-8 without '+' or '#', not '" +
               platform::Excerpt(value) + "'";
      return false;
    }
    options->prefix = prefix;
  } else if (option == "--mqtt-name") {
    if (value.empty() || value.find_first_of("/+#") != std::string::npos || !IsUtf8(value)) {
      *error = "--mqtt-name takes one topic level in UTF-8 (no '/', '+' or '#'), not '" +
               platform::Excerpt(value) + "'";
      return false;
    }
    options->name = value;
  }
  return true;
}

namespace {

// MQTT carries a user name and a password of at most this many bytes each.
constexpr size_t kMaxCredential = 65535;

// The whole file, when it is a regular file of at most `limit` bytes: a FIFO or a device (no
// end, or no writer) is refused without waiting on it.
bool ReadSmallFile(const std::string& path, size_t limit, std::string* text, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read the credentials file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = "the credentials file " + path + " is not a regular file: give a file";
    return false;
  }
  text->assign(limit + 1, '\0');
  size_t got = 0;
  ssize_t n = 0;
  while (got < text->size() && (n = ::read(fd, &(*text)[got], text->size() - got)) > 0) got += n;
  int cause = errno;
  ::close(fd);
  text->resize(got);
  if (n < 0) {
    *error = "cannot read the credentials file " + path + ": " + std::strerror(cause);
    return false;
  }
  if (got > limit) {
    *error = "the credentials file " + path + " is larger than " + std::to_string(limit) +
             " bytes: it holds more than a user name and a password";
    return false;
  }
  return true;
}

// What MQTT cannot carry is refused rather than cut or sent broken.
bool CheckCredential(const std::string& text, const char* what, const std::string& path,
                     std::string* error) {
  std::string problem;
  if (text.find('\0') != std::string::npos) {
    problem = "holds a NUL byte";
  } else if (text.size() > kMaxCredential) {
    problem = "is longer than " + std::to_string(kMaxCredential) + " bytes";
  }
  if (!problem.empty()) {
    *error = "the " + std::string(what) + " in the credentials file " + path + " " + problem +
             ", which MQTT cannot carry";
  }
  return problem.empty();
}

bool ReadCredentials(MqttOptions* options, std::string* error) {
  const std::string& path = options->auth_file;
  std::string content;
  if (!ReadSmallFile(path, 2 * (kMaxCredential + 2), &content, error)) return false;
  std::istringstream in(content);
  auto line = [&](std::string* text) {
    if (!std::getline(in, *text)) return false;
    if (!text->empty() && text->back() == '\r') text->pop_back();
    return true;
  };
  if (!line(&options->user) || options->user.empty()) {
    *error = "the credentials file " + path + " has no user name on its first line";
    return false;
  }
  line(&options->password);  // a user without a password is allowed
  if (!CheckCredential(options->user, "user name", path, error) ||
      !CheckCredential(options->password, "password", path, error)) {
    return false;
  }
  if (!IsUtf8(options->user)) {
    *error = "the user name in the credentials file " + path +
             " is not UTF-8 without control characters, as MQTT needs";
    return false;
  }
  struct stat st {};
  // The file's group is how a service user reads it (root:_veldrane, mode 640): only users
  // outside its owner and group are a leak.
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IRWXO) != 0) {
    std::fprintf(stderr,
                 "veldrane-host: warning: users outside the owner and group of the credentials "
                 "file %s may read it (chmod o-rwx %s)\n",
                 path.c_str(), path.c_str());
  }
  return true;
}

}  // namespace

bool FinishMqttOptions(MqttOptions* options, std::string* error) {
  if (!options->enabled()) {
    if (!options->ca_file.empty() || !options->auth_file.empty() || !options->name.empty() ||
        options->prefix != MqttOptions().prefix) {
      *error = "the --mqtt-... options need --mqtt URL";
      return false;
    }
    return true;
  }
  if (!options->ca_file.empty()) {
    if (!options->broker.tls) {
      *error = "--mqtt-ca is for an mqtts:// broker";
      return false;
    }
    if (::access(options->ca_file.c_str(), R_OK) != 0) {
      *error = "cannot read the CA file " + options->ca_file + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!options->auth_file.empty() && !ReadCredentials(options, error)) return false;
  if (options->name.empty()) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
      std::snprintf(host, sizeof host, "veldrane");
    }
    options->name = host;
    for (char& c : options->name) {
      if (c == '/' || c == '+' || c == '#') c = '_';
    }
  }
  return true;
}

}  // namespace veldrane::host

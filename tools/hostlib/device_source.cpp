#include "device_source.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdlib>

namespace hostlib {
namespace {

// A whole decimal number in [min, max], or -1.
long Number(const std::string& text, long min, long max) {
  if (text.empty() || text.size() > 9) return -1;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value >= min && value <= max ? value : -1;
}

// Replaces a host name by its first IPv4 address; dotted addresses stay.
bool Resolve(std::string& host, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0) {
    error = "cannot resolve '" + host + "' (" + gai_strerror(rc) + ")";
    return false;
  }
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, dotted,
            sizeof dotted);
  freeaddrinfo(found);
  host = dotted;
  return true;
}

}  // namespace

std::string DeviceSource::Label() const {
  std::string label = transport == QCSDK_TRANSPORT_OCT ? "oct " : "nxl ";
  label += name.empty() ? host : name;
  if (!byNumber) label.append(":").append(std::to_string(port));
  label.append("/").append(std::to_string(channel));
  if (stream != 0) label.append("/").append(std::to_string(stream));
  return label;
}

bool DeviceSource::Resolve(std::string& error) {
  if (name.empty()) return true;
  std::string address = name;
  if (!hostlib::Resolve(address, error)) return false;
  host = address;
  return true;
}

bool ParseDeviceSource(const std::string& text, DeviceSource& out, std::string& error,
                       bool resolve) {
  DeviceSource source;
  std::string rest;
  if (text.rfind("nxl://", 0) == 0) {
    source.transport = QCSDK_TRANSPORT_NXL;
    rest = text.substr(6);
  } else if (text.rfind("oct://", 0) == 0) {
    source.transport = QCSDK_TRANSPORT_OCT;
    source.channel = 1;
    rest = text.substr(6);
  } else {
    error = "'" + text + "': give nxl://... or oct://...";
    return false;
  }
  if (const auto at = rest.rfind('@'); at != std::string::npos) {
    const std::string credentials = rest.substr(0, at);
    rest.erase(0, at + 1);
    const auto colon = credentials.find(':');
    source.user = credentials.substr(0, colon);
    source.password = colon == std::string::npos ? "" : credentials.substr(colon + 1);
  }
  std::string path;
  if (const auto slash = rest.find('/'); slash != std::string::npos) {
    path = rest.substr(slash + 1);
    rest.erase(slash);
  }
  if (const auto colon = rest.find(':'); colon != std::string::npos) {
    source.port = static_cast<int32_t>(Number(rest.substr(colon + 1), 1, 65535));
    rest.erase(colon);
    if (source.port < 0) {
      error = "'" + text + "': the port is not a number from 1 to 65535";
      return false;
    }
  }
  source.host = rest;
  source.byNumber = source.port == 0;
  in_addr address{};
  if (source.host.empty()) {
    error = "'" + text + "': no address or number";
    return false;
  }
  if (source.byNumber && inet_pton(AF_INET, source.host.c_str(), &address) == 1) {
    error = "'" + text + "': an address needs a port";
    return false;
  }
  if (!source.byNumber && inet_pton(AF_INET, source.host.c_str(), &address) != 1) {
    source.name = source.host;
    if (resolve && !source.Resolve(error)) {
      error = "'" + text + "': " + error;
      return false;
    }
  }
  for (int32_t* field : {&source.channel, &source.stream}) {
    if (path.empty()) break;
    const auto slash = path.find('/');
    const long value = Number(path.substr(0, slash), 0, 1023);
    if (value < 0) {
      error = "'" + text + "': channel and stream are numbers from 0 to 1023";
      return false;
    }
    *field = static_cast<int32_t>(value);
    path = slash == std::string::npos ? "" : path.substr(slash + 1);
  }
  if (!path.empty() || (source.transport == QCSDK_TRANSPORT_NXL && source.stream != 0)) {
    error = "'" + text + "': too many parts after the address";
    return false;
  }
  out = source;
  return true;
}

}  // namespace hostlib

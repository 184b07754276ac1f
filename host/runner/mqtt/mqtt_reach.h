// Finding the broker: its name looked up, and each of its addresses tried with a bounded TCP
// connection, so that the MQTT client is given an address that answers and never waits on the
// network itself longer than a round trip.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace veldrane::host {

// Looks a host name up: its numeric addresses in the resolver's order (a numeric address gives
// itself). False with the cause when there are none. May block as long as the name servers do:
// the caller runs it where a stop need not wait for it.
using ResolveBroker = std::function<bool(const std::string& host,
                                         std::vector<std::string>* addresses, std::string* error)>;
bool SystemResolve(const std::string& host, std::vector<std::string>* addresses,
                   std::string* error);

// Whether `host` is a numeric IPv4 or IPv6 address.
bool IsNumericAddress(const std::string& host);

// Tries the addresses in turn (each gets an equal share of what is left of `within`) and
// returns the first that accepts a TCP connection on `port`, or "" with the cause of the last
// failure. Ends within 100 ms when `stop` is set.
std::string FirstAnswering(const std::vector<std::string>& addresses, int port,
                           std::chrono::milliseconds within, const std::atomic<bool>& stop,
                           std::string* error);

}  // namespace veldrane::host

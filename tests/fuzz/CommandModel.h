// The driver object's commands written out a second time, from the rules
// of each command rather than from Scales.cpp: given the replies the
// exchanges get, the result a command gives, the fields it leaves and the
// request payloads it sends. The fuzz target of the commands compares the
// real object with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"

namespace pesolink::fuzz {

// Every field a command may read or write.
struct Fields {
    int32_t weight = 0, division = 0, stable = 0, net = 0, zero = 0, tare = 0;
    std::u16string serial, name;
    std::u16string ip, mask, gateway;
    int32_t portEthernet = 0;
    std::u16string ssid, key, wifiIp, wifiMask, wifiGateway, ap;
    int32_t portWiFi = 0;
    bool operator==(const Fields& o) const;
};

// What one exchange of the command got: the send went out (else the link
// was gone) and, if so, the code and frame its receive ended with.
struct ExchangeOutcome {
    bool sent = false;
    Accepted accepted;
};

// Runs the named command on the fields. `exchange` is called once per
// exchange, in order, with the request payload the command sends; it gives
// what that exchange got. `sendFailed` is the result of an exchange whose
// send did not go out. Returns the result; the fields are updated as the
// command would.
int32_t RunModel(const std::string& command, Fields& f, int32_t sendFailed,
                 const std::function<ExchangeOutcome(const Bytes& payload)>& exchange);

// True for the commands the model knows.
bool Modelled(const std::string& command);

}  // namespace pesolink::fuzz

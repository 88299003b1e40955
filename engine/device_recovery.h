// Asking devices one by one from a private port, outside a query: the recovery of addresses that
// never answered the query (UDP is lossy). Answers are read by parseSystemInfoAnswer (device_query).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/device_info.h"

struct RecoveryOptions {
    int attempts = 4;        // rounds at most; each asks every address still unanswered once
    int answerWaitMs = 400;  // how long a round waits for answers after its last request
    int spacingMs = 10;      // between two requests, as the connect thread keeps
};

// Asks every address (GBK dotted texts) "GetSystemInfo" from one private UDP port, round after round,
// until each has answered, a round recovered nothing, or the rounds are used up; answers of all
// addresses asked are awaited together. The whole recovery is bounded by one pass over the
// addresses at the query's pacing (spacingMs apart) plus the rounds' answer waits (attempts x
// answerWaitMs): the rounds after the first ask only within the answer waits left, so silent
// addresses never cost a second pass. `found` runs on the calling thread for the first
// GetSystemInfoOK of each address (by its "IP" key). Stops early when `stop`
// becomes non-zero. Returns the addresses that never answered; all of them when no private port
// could be bound.
std::vector<std::string> recoverDevices(const std::vector<std::string>& narrowIps,
                                        const RecoveryOptions& options,
                                        const std::function<void(const DeviceInfo&)>& found,
                                        const std::atomic<int>* stop = nullptr);

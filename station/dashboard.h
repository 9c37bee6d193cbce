// The live dashboard (--http): the page, GET /api/state (the station's state
// as JSON) and GET /api/events (Server-Sent Events, one "state" event per
// change). Read-only. It runs on threads of its own and only ever holds the
// newest state: the station hands a state over and goes on; a browser that
// reads slowly gets the newest state when it is ready for one, never a queue
// of old ones.
#pragma once

#include <memory>
#include <string>

namespace Station {

class Dashboard {
public:
    // Listens on host:port (0: any free port). Nothing on failure, with error set.
    // hostName names this machine in the URL when host is a wildcard address.
    static std::unique_ptr<Dashboard> Start(const std::string& host, int port, const std::string& hostName,
                                            std::string& error);
    virtual ~Dashboard() = default;

    // The address a browser uses (for a wildcard address: on this host).
    virtual std::string Url() const = 0;
    // The newest state (a JSON document on one line); never waits for a browser.
    virtual void Publish(std::string state) = 0;
    // The last state: every open event stream gets it (for at most
    // lingerSeconds), then the server stops.
    virtual void Finish(std::string state, double lingerSeconds) = 0;
};

}  // namespace Station

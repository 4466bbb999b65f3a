#pragma once

// Test helpers: a private network namespace for the calling thread (and the
// threads and processes it starts afterwards) and a small HTTP/1.0 client.
// Only loopback and addresses inside such a namespace are ever contacted.

#include "UniqueFd.h"

#include <cstdint>
#include <map>
#include <string>

namespace lagwell::test {

// Moves the calling thread into a fresh network namespace with "lo" up.
// Needs root.
bool enterFreshNetNamespace(std::string* error);

// Adds an up veth interface `name` with `cidr` (such as "10.200.0.1/24");
// its peer end, "p" + a number, stays without an address.
bool addInterface(const std::string& name, const std::string& cidr, std::string* error);

// A listening TCP socket on the wildcard address, or an invalid fd.
UniqueFd listenOn(int port);
// Connects to `address`; from the local address `source` when not empty
// (any 127.0.0.0/8 address, or one of the namespace's own).
UniqueFd connectTo(const std::string& address, int port, const std::string& source = {});

struct HttpResponse {
    bool complete = false;  // a whole head was read
    int status = 0;
    std::string statusLine;
    std::map<std::string, std::string> headers;  // names as sent
    std::string head;                           // the raw head, empty line included
    std::string body;
    bool closedByServer = false;                // the server closed (or reset) the connection
};

// Reads a response until the server closes or `timeoutMs` passes.
HttpResponse readResponse(int fd, int timeoutMs = 15000);
// Connects, sends `raw` as it stands and reads the response.
HttpResponse exchange(const std::string& address, int port, const std::string& raw, int timeoutMs = 15000);
HttpResponse get(const std::string& address, int port, const std::string& target);
// A GET of `target` from the local address `source`.
HttpResponse getFrom(const std::string& source, const std::string& address, int port, const std::string& target,
                     int timeoutMs = 15000);

// Threads of this process, from /proc/self/task.
int threadCount();
// Open descriptors of this process, from /proc/self/fd.
int openFdCount();

}  // namespace lagwell::test

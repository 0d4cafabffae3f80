#pragma once

#include <cstdint>
#include <functional>

namespace zq::usb
{

// The bulk transfer type, both as USB's bmAttributes value and as WinUSB's UsbdPipeTypeBulk.
constexpr uint8_t kBulkPipeType = 2;

struct EndpointQuery {
    uint8_t type = 0;    // transfer type, kBulkPipeType for bulk
    uint8_t address = 0; // bit 7 set for IN
};

// Fills *endpoint for the endpoint at index of interface 0, alternate setting 0; false when the
// query fails.
using QueryEndpoint = std::function<bool(int index, EndpointQuery *endpoint)>;

struct BulkPipes {
    bool lastQueryOk = true; // no endpoints means no query, which passes
    bool haveIn = false;
    bool haveOut = false;
    uint8_t inPipe = 0;
    uint8_t outPipe = 0;

    // Transfers on a missing pipe could only fail, so an interface without both is refused at
    // open rather than at the first command.
    bool usable() const { return lastQueryOk && haveIn && haveOut; }
};

// Walks the endpoints in index order. A later bulk endpoint of a direction replaces an earlier
// one; other types are skipped. Only the last query's success counts, so a failed query of the
// last endpoint fails discovery even after both pipes were found.
BulkPipes discoverBulkPipes(int endpointCount, const QueryEndpoint &query);

} // namespace zq::usb

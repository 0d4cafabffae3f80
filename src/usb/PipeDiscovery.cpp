#include "usb/PipeDiscovery.h"

namespace zq::usb
{

BulkPipes discoverBulkPipes(int endpointCount, const QueryEndpoint &query)
{
    BulkPipes pipes;
    for (int index = 0; index < endpointCount; ++index) {
        EndpointQuery endpoint;
        pipes.lastQueryOk = query(index, &endpoint);
        if (!pipes.lastQueryOk || endpoint.type != kBulkPipeType)
            continue;
        if (endpoint.address & 0x80) {
            pipes.inPipe = endpoint.address;
            pipes.haveIn = true;
        } else {
            pipes.outPipe = endpoint.address;
            pipes.haveOut = true;
        }
    }
    return pipes;
}

} // namespace zq::usb

// The helper host of the process tests: serves the probe alone.
#include "probe.h"

#include "platform/helper_host.h"

int main(int argc, char** argv) {
    static const platform::HostedProgram programs[] = {{"probe", ProbeMain}};
    return platform::RunHelperHost(argc, argv, programs, 1);
}

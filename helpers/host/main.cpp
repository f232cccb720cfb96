// The helper host. Started by the engine's launcher thread with its end of a
// socket; forks dec and enc as the engine asks (platform/helper_host.h).
#include "DecoderMain.h"
#include "EncoderMain.h"

#include <iterator>

#include "platform/helper_host.h"

int main(int argc, char** argv) {
    static const platform::HostedProgram programs[] = {{"dec", DecoderMain}, {"enc", EncoderMain}};
    return platform::RunHelperHost(argc, argv, programs, std::size(programs));
}

#pragma once
// The decoder helper's main, run by its own program or by the helper host.
int DecoderMain(int argc, char** argv);

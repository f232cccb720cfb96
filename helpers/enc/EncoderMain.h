#pragma once
// The encoder helper's main, run by its own program or by the helper host.
int EncoderMain(int argc, char** argv);

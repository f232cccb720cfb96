#include "probe.h"

int main(int argc, char** argv) {
    return ProbeMain(argc, argv);
}

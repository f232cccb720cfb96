#include "DecoderMain.h"

int main(int argc, char** argv) {
    return DecoderMain(argc, argv);
}

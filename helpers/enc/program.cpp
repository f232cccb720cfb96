#include "EncoderMain.h"

int main(int argc, char** argv) {
    return EncoderMain(argc, argv);
}

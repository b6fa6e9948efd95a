// The decoder process that the viewer starts (see platform/decoder).
#include "platform/decoder/Startup.h"

int main(int argc, char** argv) {
    return pictolune::decoder::runDecoder(argc, argv, {});
}
